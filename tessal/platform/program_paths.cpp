#include "platform/program_paths.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "kit/user_dirs.h"

namespace platform {
namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
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
    // Without a home there is no log (records are dropped), never a shared directory.
    std::string home = kit::HomeDirectory();
    return home.empty() ? std::string() : home + "/.zyk/ZYKUKeyDriver.log";
}

}  // namespace platform
