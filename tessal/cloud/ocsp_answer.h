// Reading an OCSP responder's answer about one certificate.
#pragma once

#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include <string>

namespace cloud {

// The status `answer` gives for the certificate `id` names, asked for with `request` from the
// responder of `issuer`: 0 good (only from a trusted answer, see IsTrustedAnswer), 1 unknown or
// an answer that says nothing usable, 2 revoked. `response` receives the answer's Base64 DER.
int StatusOfOcspAnswer(OCSP_RESPONSE* answer, OCSP_REQUEST* request, OCSP_CERTID* id, X509* issuer,
                       std::string& response);

}  // namespace cloud
