#include "token/signature_der.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstring>

ByteArray SignatureBlobToDer(const ECCSIGNATUREBLOB& blob) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(blob.r + 32, 32, nullptr), BN_bin2bn(blob.s + 32, 32, nullptr));
    unsigned char* der = nullptr;
    int len = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    ByteArray out = len > 0 ? ByteArray(der, static_cast<unsigned long>(len)) : ByteArray();
    OPENSSL_free(der);
    return out;
}

bool SignatureDerToBlob(const ByteArray& der, ECCSIGNATUREBLOB& blob) {
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = p ? d2i_ECDSA_SIG(nullptr, &p, der.length()) : nullptr;
    if (!sig) return false;
    std::memset(&blob, 0, sizeof blob);
    bool ok = BN_num_bytes(ECDSA_SIG_get0_r(sig)) <= 32 && BN_num_bytes(ECDSA_SIG_get0_s(sig)) <= 32 &&
              BN_bn2binpad(ECDSA_SIG_get0_r(sig), blob.r + 32, 32) == 32 &&
              BN_bn2binpad(ECDSA_SIG_get0_s(sig), blob.s + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    return ok;
}
