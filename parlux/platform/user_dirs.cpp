#include "platform/user_dirs.h"

#include <cstdlib>

#include "kit/user_dirs.h"

namespace parlux::platform {

std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback) {
    const char* base = std::getenv(xdgVariable);
    if (base && *base) return std::string(base) + "/parlux";
    std::string home = kit::HomeDirectory();
    return home.empty() ? std::string() : home + "/" + homeFallback + "/parlux";
}

}  // namespace parlux::platform
