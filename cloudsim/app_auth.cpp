#include "app_auth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "app_credentials_data.h"
#include "base64.h"
#include "credential_selection.h"

namespace {

AppCredential Unmasked(const app_credentials::MaskedPair& pair) {
    return {app_credentials::Unmask(pair.key), app_credentials::Unmask(pair.secret)};
}

// The host name's last label, without a port: "gateway.example.cn:443" gives "cn".
std::string EnvironmentOf(const std::string& host) {
    std::string name = host.substr(0, host.find(':'));
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

}  // namespace

AppCredential GatewayCredentialFor(const std::string& host) {
    return Unmasked(app_credentials::kGatewayPairs[app_credentials::GatewayPairFor(EnvironmentOf(host)) - 1]);
}

AppCredential MobileCredentialFor(const std::string& mobileUrl) {
    return Unmasked(app_credentials::kMobilePairs[app_credentials::MobilePairFor(mobileUrl) - 1]);
}

std::string HmacSha256Hex(const std::string& data, const std::string& key) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
              data.size(), mac, &length))
        return std::string();
    return LowerHex(std::string(reinterpret_cast<char*>(mac), length));
}

bool CheckAppSignature(const httplib::Request& req, const AppCredential& expected, std::string& why) {
    if (!req.has_header("x-zyk-app-key") || !req.has_header("x-zyk-app-nonce") || !req.has_header("x-zyk-app-sign")) {
        why = "missing application signature headers";
        return false;
    }
    if (req.get_header_value("x-zyk-app-key") != expected.key) {
        why = "unknown application key";
        return false;
    }
    std::string nonce = req.get_header_value("x-zyk-app-nonce");
    if (nonce.empty() || req.get_header_value("x-zyk-app-sign") != HmacSha256Hex(nonce, expected.secret)) {
        why = "application signature mismatch";
        return false;
    }
    return true;
}
