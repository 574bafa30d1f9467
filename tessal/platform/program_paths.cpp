#include "platform/program_paths.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_dir;
    return "/tmp";
}

}  // namespace

std::string ProgramDirectory() {
    std::vector<char> path(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", path.data(), PATH_MAX);
    if (n <= 0) return ".";
    std::string exe(path.data(), static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return exe.substr(0, slash);
}

std::string DriverDirectory() {
    std::string dir = EnvOrEmpty("TESSAL_DRIVER_DIR");
    if (dir.empty()) return ProgramDirectory();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string LogFilePath() {
    std::string file = EnvOrEmpty("TESSAL_LOG_FILE");
    if (!file.empty()) return file;
    return HomeDirectory() + "/.zyk/ZYKUKeyDriver.log";
}

}  // namespace platform
