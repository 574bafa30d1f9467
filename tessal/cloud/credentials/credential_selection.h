// Which application credential pair (numbered from 1) an environment selects. Shared by the
// library, which signs with the pair, and cloudsim, which checks the signature.
#pragma once

#include <string>

namespace app_credentials {

inline bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Gateway set (pairs 1 to 3), chosen by the environment suffix ("com", "me", "cn", ...).
inline int GatewayPairFor(const std::string& suffix) {
    if (Contains(suffix, "com")) return 1;
    if (Contains(suffix, "me")) return 2;
    if (Contains(suffix, "cn")) return 3;
    return 1;
}

// Mobile set (pairs 1 to 4), chosen by the whole mobile seal URL, host name included.
inline int MobilePairFor(const std::string& mobileUrl) {
    if (Contains(mobileUrl, "net")) return 1;
    if (Contains(mobileUrl, "me")) return 2;
    if (Contains(mobileUrl, "cn")) return 3;
    return 4;
}

}  // namespace app_credentials
