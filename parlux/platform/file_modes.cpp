#include "platform/file_modes.h"

#include <sys/stat.h>

#include <fstream>
#include <string>

namespace parlux::platform {
namespace {

// The umask read without changing it (other threads may create files meanwhile).
bool ReadUmask(mode_t& mask) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) != 0) continue;
        try {
            mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            return true;
        } catch (...) {
            return false;
        }
    }
    return false;
}

}  // namespace

mode_t NewFilePermissions() {
    mode_t mask = 0;
    if (!ReadUmask(mask)) {
        mask = umask(022);
        umask(mask);
    }
    return 0666 & ~mask;
}

}  // namespace parlux::platform
