#include "cloud/ocsp_answer.h"

#include <openssl/err.h>

#include <cstring>

#include "api/log.h"
#include "certs/der_objects.h"
#include "cloud/ocsp_trust.h"

namespace cloud {
namespace {

constexpr int kGood = 0;
constexpr int kUnknown = 1;
constexpr int kRevoked = 2;

// The status the answer gives for `id`, believing "good" only from a trusted answer.
int StatusFromAnswer(OCSP_BASICRESP* answer, OCSP_REQUEST* request, OCSP_CERTID* id, X509* issuer) {
    int status = -1, reason = 0;
    ASN1_GENERALIZEDTIME *revokedAt = nullptr, *thisUpdate = nullptr, *nextUpdate = nullptr;
    if (!OCSP_resp_find_status(answer, id, &status, &reason, &revokedAt, &thisUpdate, &nextUpdate)) {
        TLOG_ERROR("ERROR: No Status found.\n");
        return kUnknown;
    }
    const char* text = OCSP_cert_status_str(status);
    if (std::strcmp(text, "revoked") == 0) return kRevoked;  // failing safe: believed even unsigned
    if (std::strcmp(text, "good") != 0) return kUnknown;
    return IsTrustedAnswer(answer, request, issuer, thisUpdate, nextUpdate) ? kGood : kUnknown;
}

}  // namespace

int StatusOfOcspAnswer(OCSP_RESPONSE* answer, OCSP_REQUEST* request, OCSP_CERTID* id, X509* issuer,
                       std::string& response) {
    response = Base64OfDer(DerOf(answer, i2d_OCSP_RESPONSE));
    if (OCSP_response_status(answer) != OCSP_RESPONSE_STATUS_SUCCESSFUL) {
        TLOG_ERROR("Responder Error");
        return kUnknown;
    }
    OcspBasicPtr basic(OCSP_response_get1_basic(answer));
    if (!basic) {
        TLOG_ERROR("Error parsing response");
        ERR_clear_error();
        return kUnknown;
    }
    int result = StatusFromAnswer(basic.get(), request, id, issuer);
    ERR_clear_error();
    return result;
}

}  // namespace cloud
