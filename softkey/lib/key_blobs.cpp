#include "lib/key_blobs.h"

#include <cstring>

namespace softkey {
namespace {

void PutUlong(Bytes& out, ULONG v) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

void PutRightAligned(Bytes& out, const Bytes& value, size_t field) {
    out.insert(out.end(), field - value.size(), 0);
    out.insert(out.end(), value.begin(), value.end());
}

}  // namespace

void FillEccBlob(const uint8_t x[32], const uint8_t y[32], ECCPUBLICKEYBLOB& blob) {
    std::memset(&blob, 0, sizeof blob);
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, x, 32);
    std::memcpy(blob.YCoordinate + 32, y, 32);
}

bool PublicBlobOf(const KeyPair& key, Bytes& blob) {
    Pkey pub = LoadPublicKey(key.publicKey);
    if (!pub) return false;
    blob.clear();
    if (key.alg == KeyAlg::Sm2) {
        uint8_t x[32], y[32];
        if (!Sm2PublicPoint(pub.get(), x, y)) return false;
        ECCPUBLICKEYBLOB ecc;
        FillEccBlob(x, y, ecc);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&ecc);
        blob.assign(p, p + sizeof ecc);
        return true;
    }
    Bytes n, e;
    if (!RsaPublicParts(pub.get(), n, e) || e.size() > MAX_RSA_EXPONENT_LEN) return false;
    size_t field = n.size() <= MAX_RSA_MODULUS_LEN ? MAX_RSA_MODULUS_LEN : 512;
    if (n.size() > field) return false;
    PutUlong(blob, SGD_RSA);
    PutUlong(blob, static_cast<ULONG>(key.bits));
    PutRightAligned(blob, n, field);
    PutRightAligned(blob, e, MAX_RSA_EXPONENT_LEN);
    return true;
}

Pkey EccBlobKey(const ECCPUBLICKEYBLOB& blob) {
    if (blob.BitLen != 256) return Pkey();
    return Sm2PublicFromPoint(Low32(blob.XCoordinate), Low32(blob.YCoordinate));
}

Pkey RsaBlobKey(const RSAPUBLICKEYBLOB& blob) {
    if (blob.BitLen == 0 || blob.BitLen > MAX_RSA_MODULUS_LEN * 8 || blob.BitLen % 8) return Pkey();
    size_t bytes = blob.BitLen / 8;
    Bytes n(blob.Modulus + MAX_RSA_MODULUS_LEN - bytes, blob.Modulus + MAX_RSA_MODULUS_LEN);
    Bytes e(blob.PublicExponent, blob.PublicExponent + MAX_RSA_EXPONENT_LEN);
    return RsaPublicFromParts(n, e);
}

}  // namespace softkey
