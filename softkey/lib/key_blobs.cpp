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

// Copies a big-endian value into the end of a field; false when it does not fit.
bool FillRightAligned(BYTE* field, size_t fieldLen, const Bytes& value) {
    if (value.size() > fieldLen) return false;
    std::memset(field, 0, fieldLen - value.size());
    if (!value.empty()) std::memcpy(field + fieldLen - value.size(), value.data(), value.size());
    return true;
}

Bytes Field(const BYTE* field, size_t len) { return Bytes(field, field + len); }

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
    Pkey key = RsaPublicFromParts(n, e);
    // BitLen must name the modulus the blob holds.
    if (key && EVP_PKEY_get_bits(key.get()) != static_cast<int>(blob.BitLen)) return Pkey();
    return key;
}

Pkey EccPrivateBlobKey(const ECCPRIVATEKEYBLOB& blob) {
    if (blob.BitLen != 256) return Pkey();
    return Sm2PrivateFromScalar(Low32(blob.PrivateKey));
}

Pkey RsaPrivateBlobKey(const RSAPRIVATEKEYBLOB& blob) {
    if (blob.BitLen == 0 || blob.BitLen > MAX_RSA_MODULUS_LEN * 8 || blob.BitLen % 8) return Pkey();
    const size_t half = MAX_RSA_MODULUS_LEN / 2;
    Bytes n = Field(blob.Modulus, MAX_RSA_MODULUS_LEN);
    Bytes d = Field(blob.PrivateExponent, MAX_RSA_MODULUS_LEN);
    Bytes p = Field(blob.Prime1, half), q = Field(blob.Prime2, half);
    Bytes dp = Field(blob.Prime1Exponent, half), dq = Field(blob.Prime2Exponent, half);
    Bytes qinv = Field(blob.Coefficient, half);
    Pkey key = RsaPrivateFromParts(n, Field(blob.PublicExponent, MAX_RSA_EXPONENT_LEN), d, p, q, dp, dq, qinv);
    for (Bytes* secret : {&d, &p, &q, &dp, &dq, &qinv}) OPENSSL_cleanse(secret->data(), secret->size());
    // BitLen must name the modulus the blob holds.
    if (key && EVP_PKEY_get_bits(key.get()) != static_cast<int>(blob.BitLen)) return Pkey();
    return key;
}

bool FillRsaPrivateBlob(EVP_PKEY* key, RSAPRIVATEKEYBLOB& blob) {
    RsaParts parts;
    std::memset(&blob, 0, sizeof blob);
    const size_t half = MAX_RSA_MODULUS_LEN / 2;
    bool ok = RsaPrivateParts(key, parts) && FillRightAligned(blob.Modulus, MAX_RSA_MODULUS_LEN, parts.n) &&
              FillRightAligned(blob.PublicExponent, MAX_RSA_EXPONENT_LEN, parts.e) &&
              FillRightAligned(blob.PrivateExponent, MAX_RSA_MODULUS_LEN, parts.d) &&
              FillRightAligned(blob.Prime1, half, parts.p) && FillRightAligned(blob.Prime2, half, parts.q) &&
              FillRightAligned(blob.Prime1Exponent, half, parts.dp) &&
              FillRightAligned(blob.Prime2Exponent, half, parts.dq) &&
              FillRightAligned(blob.Coefficient, half, parts.qinv);
    for (Bytes* secret : {&parts.d, &parts.p, &parts.q, &parts.dp, &parts.dq, &parts.qinv})
        OPENSSL_cleanse(secret->data(), secret->size());
    if (!ok) {
        OPENSSL_cleanse(&blob, sizeof blob);
        return false;
    }
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    return true;
}

void FillCipherBlob(const Sm2Cipher& cipher, ECCCIPHERBLOB* blob) {
    std::memset(blob, 0, ECC_CIPHER_HEADER_LEN);
    std::memcpy(blob->XCoordinate + 32, cipher.x, 32);
    std::memcpy(blob->YCoordinate + 32, cipher.y, 32);
    std::memcpy(blob->HASH, cipher.hash, 32);
    blob->CipherLen = static_cast<ULONG>(cipher.cipher.size());
    if (!cipher.cipher.empty()) std::memcpy(blob->Cipher, cipher.cipher.data(), cipher.cipher.size());
}

Sm2Cipher CipherOfBlob(const ECCCIPHERBLOB* blob) {
    Sm2Cipher cipher;
    std::memcpy(cipher.x, Low32(blob->XCoordinate), 32);
    std::memcpy(cipher.y, Low32(blob->YCoordinate), 32);
    std::memcpy(cipher.hash, blob->HASH, 32);
    cipher.cipher.assign(blob->Cipher, blob->Cipher + blob->CipherLen);
    return cipher;
}

}  // namespace softkey
