#include "platform/user_dirs.h"

#include <unistd.h>

#include <cstdlib>

#include "kit/user_dirs.h"

namespace parlux::platform {

std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback) {
    const char* base = std::getenv(xdgVariable);
    if (base && *base) return std::string(base) + "/parlux";
    std::string home = kit::HomeDirectory();
    return home.empty() ? std::string() : home + "/" + homeFallback + "/parlux";
}

bool InstalledInSystemDirectory(const std::string& program) {
    for (const char* system : {"/usr/", "/bin/", "/sbin/", "/opt/"})
        if (program.rfind(system, 0) == 0) return true;
    return false;
}

std::string UserLogDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state) return std::string(state) + "/parlux";
    if (geteuid() == 0) return "/var/log/parlux";
    // A system account's home may be a system directory (daemon's is /usr/sbin): nothing there.
    std::string dir = ParluxUserDirectory("XDG_STATE_HOME", ".local/state");
    return InstalledInSystemDirectory(dir) ? std::string() : dir;
}

}  // namespace parlux::platform
