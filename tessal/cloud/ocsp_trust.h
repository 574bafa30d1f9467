// Whether a "good" OCSP answer can be believed.
#pragma once

#include <openssl/ocsp.h>
#include <openssl/x509.h>

namespace cloud {

// Clock difference tolerated between this machine and the responder.
constexpr long kOcspClockSkewSeconds = 300;

// True when `answer` is signed by `issuer` itself or by a responder certificate that the
// issuer signed with the OCSP-signing extended key usage and that is currently valid; when a
// nonce in the answer equals the one in `request` (an answer without a nonce is accepted);
// and when the single response's thisUpdate/nextUpdate hold within the clock skew.
// Otherwise false, after logging why.
bool IsTrustedAnswer(OCSP_BASICRESP* answer, OCSP_REQUEST* request, X509* issuer, ASN1_GENERALIZEDTIME* thisUpdate,
                     ASN1_GENERALIZEDTIME* nextUpdate);

}  // namespace cloud
