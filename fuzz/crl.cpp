// A CRL as a distribution point serves it (any bytes), parsed and judged the way the CRL check
// does for the leaf of each fuzzing authority: issuer, signature, nextUpdate, listed serials.
#include <openssl/err.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "certs/crl_check.h"
#include "revocation_pki.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    X509CrlPtr crl = CrlFromDer(std::string(reinterpret_cast<const char*>(data), size));
    ERR_clear_error();  // as the download leaves it
    for (const FuzzAuthority& authority : FuzzAuthorities()) {
        std::string crlBase64;
        int status = RevocationFromCrl(crl.get(), authority.leaf.get(), authority.issuerBase64, crlBase64);
        if (status < 0 || status > 2) abort();
    }
    return 0;
}
