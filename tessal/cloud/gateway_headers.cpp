// Application credentials and the signed header lines of gateway and mobile seal requests.
#include "api/encodings.h"
#include "app_credentials_data.h"
#include "cloud/credentials/credential_selection.h"
#include "tessal/http.h"

namespace {

const app_credentials::MaskedPair& GatewayPair() {
    return app_credentials::kGatewayPairs[app_credentials::GatewayPairFor(CHttpClient::m_url) - 1];
}

const app_credentials::MaskedPair& MobilePair() {
    return app_credentials::kMobilePairs[app_credentials::MobilePairFor(CHttpClient::m_mobileUrl) - 1];
}

// The content type, then key, nonce and the HMAC-SHA256 of the nonce under the secret, each
// header name followed by `separator`. The pair is selected once, so key and secret always
// belong together; the MAC is computed into a buffer of this call, so headers built on
// several threads at once never share a signature.
std::vector<std::string> SignedHeaders(const app_credentials::MaskedPair& pair, const char* separator) {
    std::vector<std::string> headers;
    headers.push_back("Content-Type: application/json");
    std::string nonce = RandomHexNonce();
    std::string secret = app_credentials::Unmask(pair.secret);
    std::string key = app_credentials::Unmask(pair.key);
    headers.push_back(std::string("x-zyk-app-key:") + separator + key);
    headers.push_back(std::string("x-zyk-app-nonce:") + separator + nonce);
    headers.push_back(std::string("x-zyk-app-sign:") + separator + HmacSha256Hex(nonce, secret));
    return headers;
}

}  // namespace

std::string CHttpClient::getGWKey() { return app_credentials::Unmask(GatewayPair().key); }
std::string CHttpClient::getGWSecert() { return app_credentials::Unmask(GatewayPair().secret); }
std::string CHttpClient::getMobileKey() { return app_credentials::Unmask(MobilePair().key); }
std::string CHttpClient::getMobileSecert() { return app_credentials::Unmask(MobilePair().secret); }

std::vector<std::string> CHttpClient::getGWHeadInfo() { return SignedHeaders(GatewayPair(), ""); }
std::vector<std::string> CHttpClient::getMobileHeadInfo() { return SignedHeaders(MobilePair(), " "); }
