#include "token/signature_der.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstring>

namespace {

constexpr size_t kCoordinate = 32;

// A non-negative INTEGER of the 32 big-endian bytes: no leading zero bytes, one zero byte in
// front of a high first bit, a single zero byte for the value 0.
void AppendInteger(unsigned char*& o, const unsigned char* value) {
    size_t skip = 0;
    while (skip + 1 < kCoordinate && value[skip] == 0) ++skip;
    const size_t n = kCoordinate - skip;
    const bool pad = (value[skip] & 0x80) != 0;
    *o++ = 0x02;
    *o++ = static_cast<unsigned char>(n + (pad ? 1 : 0));
    if (pad) *o++ = 0;
    std::memcpy(o, value + skip, n);
    o += n;
}

}  // namespace

ByteArray SignatureBlobToDer(const ECCSIGNATUREBLOB& blob) {
    // What i2d_ECDSA_SIG writes for these two values, at most 2 + 2 * 35 bytes.
    unsigned char der[2 + 2 * (3 + kCoordinate)];
    unsigned char* o = der + 2;
    AppendInteger(o, blob.r + 32);
    AppendInteger(o, blob.s + 32);
    der[0] = 0x30;
    der[1] = static_cast<unsigned char>(o - der - 2);
    return ByteArray(der, static_cast<unsigned long>(o - der));
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
