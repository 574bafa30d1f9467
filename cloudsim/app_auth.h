// The application signature a gateway request carries: key, nonce, HMAC-SHA256 of the nonce.
#pragma once

#include <httplib.h>

#include <string>

struct AppCredential {
    std::string key;
    std::string secret;
};

// The gateway pair for the environment named by the request's host (its last label).
AppCredential GatewayCredentialFor(const std::string& host);
// The mobile pair for the mobile seal URL the client was given.
AppCredential MobileCredentialFor(const std::string& mobileUrl);

// HMAC-SHA256 of `data` under `key`, in lower-case hexadecimal.
std::string HmacSha256Hex(const std::string& data, const std::string& key);

// Checks the x-zyk-app-key, x-zyk-app-nonce and x-zyk-app-sign headers against `expected`.
// On failure `why` says what was wrong, as the gateway's message.
bool CheckAppSignature(const httplib::Request& req, const AppCredential& expected, std::string& why);
