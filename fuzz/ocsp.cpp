// An OCSP responder's answer (a DER OCSPResponse, as the exchange decodes it) read the way the
// OCSP query reads it, about the leaf of each fuzzing authority: response status, basic
// response, the certificate's status and the trust checks a "good" must pass.
#include <openssl/err.h>
#include <openssl/ocsp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cloud/ocsp_answer.h"
#include "revocation_pki.h"

namespace {

// The request's nonce; answers from the seeds carry other nonces or none.
const unsigned char kNonce[16] = {'f', 'u', 'z', 'z', '-', 'o', 'c', 's', 'p', '-', 'n', 'o', 'n', 'c', 'e', '!'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    OcspResponsePtr answer(d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(size)));
    ERR_clear_error();  // as the exchange leaves it
    if (!answer) return 0;
    for (const FuzzAuthority& authority : FuzzAuthorities()) {
        OcspRequestPtr request(OCSP_REQUEST_new());
        OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), authority.leaf.get(), authority.issuer.get());
        if (!request || !id || !OCSP_request_add0_id(request.get(), id) ||
            !OCSP_request_add1_nonce(request.get(), const_cast<unsigned char*>(kNonce), sizeof kNonce))
            abort();
        std::string response;
        int status = cloud::StatusOfOcspAnswer(answer.get(), request.get(), id, authority.issuer.get(), response);
        if (status < 0 || status > 2) abort();
    }
    return 0;
}
