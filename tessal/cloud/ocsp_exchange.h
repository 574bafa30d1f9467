// One OCSP request sent to a responder over HTTP or HTTPS, bounded in time.
#pragma once

#include <openssl/ocsp.h>

#include <string>

namespace cloud {

struct OcspResponder {
    std::string host;
    std::string port;
    std::string path;
    bool tls = false;
};

// Limit on the whole exchange with a responder: connecting, sending and reading the answer.
constexpr int kOcspExchangeSeconds = 10;

// Posts `request` and reads the answer; null on any failure or when the limit (or the earlier
// time limit of the calling export, cloud/call_deadline.h) passes,
// after writing the console and log lines that say why. The caller frees the answer.
OCSP_RESPONSE* ExchangeWithResponder(const OcspResponder& responder, OCSP_REQUEST* request,
                                     int limitSeconds = kOcspExchangeSeconds);

}  // namespace cloud
