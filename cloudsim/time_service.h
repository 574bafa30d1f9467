// The RFC 3161 authority behind the time-service endpoints.
#pragma once

#include <mutex>
#include <string>

#include "pki.h"

class TimeService {
public:
    explicit TimeService(const Pki& pki) : m_pki(pki) {}
    // The DER TimeStampResp for a DER TimeStampReq (a rejection when the request is bad).
    std::string Respond(const std::string& request);
    // A well-formed response with status "rejection" and no token.
    static std::string Rejection();

private:
    const Pki& m_pki;
    std::mutex m_mutex;
};

// Checks the light-weight authentication headers: the token is MD5 of the time and "velmarquot".
bool ValidTimestampToken(const std::string& time, const std::string& token);
