#include "platform/user_dirs.h"

#include <cstdlib>

namespace parlux::platform {

std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback) {
    const char* base = std::getenv(xdgVariable);
    if (base && *base) return std::string(base) + "/parlux";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/" + homeFallback + "/parlux";
}

}  // namespace parlux::platform
