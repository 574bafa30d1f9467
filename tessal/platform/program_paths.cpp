#include "platform/program_paths.h"

#include <dlfcn.h>
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

std::string WithoutTrailingSlashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string ParentDirectory(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ProgramDirectory() {
    std::vector<char> path(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", path.data(), PATH_MAX);
    if (n <= 0) return ".";
    return ParentDirectory(std::string(path.data(), static_cast<size_t>(n)));
}

std::string SystemDriverDirectory() {
    // The file the loader took this code from: libtessal.so in $libdir once installed.
    Dl_info info{};
    std::string library;
    if (dladdr(reinterpret_cast<void*>(&SystemDriverDirectory), &info) && info.dli_fname &&
        *info.dli_fname) {
        std::vector<char> resolved(PATH_MAX + 1);
        library = realpath(info.dli_fname, resolved.data()) ? resolved.data() : info.dli_fname;
    }
    std::string libdir =
        library.empty() ? std::string(TESSAL_INSTALL_LIBDIR) : ParentDirectory(library);
    return JoinPath(libdir, "tessal/drivers");
}

std::vector<std::string> DriverDirectories() {
    std::string dir = EnvOrEmpty("TESSAL_DRIVER_DIR");
    if (!dir.empty()) return {WithoutTrailingSlashes(dir)};
    return {ProgramDirectory(), SystemDriverDirectory()};
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return dir == "/" ? dir + name : dir + "/" + name;
}

std::string LogFilePath() {
    std::string file = EnvOrEmpty("TESSAL_LOG_FILE");
    if (!file.empty()) return file;
    // Without a home there is no log (records are dropped), never a shared directory.
    std::string home = kit::HomeDirectory();
    return home.empty() ? std::string() : home + "/.zyk/ZYKUKeyDriver.log";
}

}  // namespace platform
