// Revocation status of a certificate from the OCSP responder its issuer names.
#pragma once

#include <string>

class OCSP {
public:
    // `cert` and `issuer` are Base64 DER certificates. 0 good, 1 unknown or any failure,
    // 2 revoked; `response` receives the Base64 DER answer whenever one arrived.
    // "good" counts only when the answer is signed by the issuer or its delegated responder,
    // carries the nonce sent (when it carries one) and is current.
    static int OCSP_Query(const std::string& cert, const std::string& issuer, std::string& response);
};
