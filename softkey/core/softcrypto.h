// The cryptography of the software key, on OpenSSL 3: SM2, RSA, SM3, SM4 and sealing.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "core/model.h"

namespace softkey {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Generates a key pair; returns the PKCS#8 private key and fills the SubjectPublicKeyInfo.
// Throws std::runtime_error on failure.
Bytes GenerateKeyPair(KeyAlg alg, int bits, Bytes& publicSpki);

Pkey LoadPrivateKey(const Bytes& pkcs8);
Pkey LoadPublicKey(const Bytes& spki);
Bytes PrivateKeyDer(EVP_PKEY* key);
Bytes PublicKeyDer(EVP_PKEY* key);
std::string PublicKeyPem(const Bytes& spki);

// SM2 public point as two 32-byte big-endian coordinates.
bool Sm2PublicPoint(EVP_PKEY* key, uint8_t x[32], uint8_t y[32]);
Pkey Sm2PublicFromPoint(const uint8_t x[32], const uint8_t y[32]);
Pkey Sm2PrivateFromScalar(const uint8_t d[32]);

// SM2 over a 32-byte digest (e); r and s are 32-byte big-endian values.
bool Sm2SignDigest(EVP_PKEY* key, const uint8_t* digest, size_t len, uint8_t r[32], uint8_t s[32]);
bool Sm2VerifyDigest(EVP_PKEY* key, const uint8_t* digest, size_t len, const uint8_t r[32],
                     const uint8_t s[32]);

// SM2 encryption in C1 C3 C2 order: point (x, y), SM3 hash, then the cipher bytes.
struct Sm2Cipher {
    uint8_t x[32];
    uint8_t y[32];
    uint8_t hash[32];
    Bytes cipher;
};
bool Sm2Encrypt(EVP_PKEY* key, const uint8_t* data, size_t len, Sm2Cipher& out);
bool Sm2Decrypt(EVP_PKEY* key, const Sm2Cipher& in, Bytes& plain);

// Identity digest Z of an SM2 public key and user identifier.
Bytes Sm2Z(const uint8_t x[32], const uint8_t y[32], const uint8_t* id, size_t idLen);

// RSA: PKCS#1 type-1 signature over the given bytes; PKCS#1 v1.5 encryption and decryption.
bool RsaSignRaw(EVP_PKEY* key, const uint8_t* data, size_t len, Bytes& sig);
bool RsaVerifyRaw(EVP_PKEY* key, const uint8_t* data, size_t len, const uint8_t* sig,
                  size_t sigLen);
bool RsaDecrypt(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& plain);
bool RsaEncrypt(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out);
// The bare RSA operations (x^e or x^d mod n) on a block of the modulus size.
bool RsaRawPublic(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out);
bool RsaRawPrivate(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out);
// Modulus and public exponent, big-endian without leading zeros.
bool RsaPublicParts(EVP_PKEY* key, Bytes& n, Bytes& e);
Pkey RsaPublicFromParts(const Bytes& n, const Bytes& e);
// The components of an RSA private key, big-endian without leading zeros.
struct RsaParts {
    Bytes n, e, d, p, q, dp, dq, qinv;
};
bool RsaPrivateParts(EVP_PKEY* key, RsaParts& parts);
// From the big-endian fields of a private-key blob (leading zeros allowed).
Pkey RsaPrivateFromParts(const Bytes& n, const Bytes& e, const Bytes& d, const Bytes& p,
                         const Bytes& q, const Bytes& dp, const Bytes& dq, const Bytes& qinv);

// SM4 in ECB mode without padding; the length must be a multiple of 16.
bool Sm4EcbDecrypt(const uint8_t key[16], const uint8_t* in, size_t len, Bytes& out);
bool Sm4EcbEncrypt(const uint8_t key[16], const uint8_t* in, size_t len, Bytes& out);

// Private keys at rest: AES-256-GCM under the store key.
Bytes Seal(const Bytes& storeKey, const Bytes& plain);
// Throws std::runtime_error when the sealed bytes were changed or the key is wrong.
Bytes Unseal(const Bytes& storeKey, const Bytes& sealed);

// Streaming digests of SKF_DigestInit: SM3 (optionally with Z first), SHA-1 or SHA-256.
enum class DigestAlg { Sm3, Sha1, Sha256 };
struct DigestState {
    EVP_MD_CTX* ctx = nullptr;
    ~DigestState();
};
bool DigestStart(DigestState& state, DigestAlg alg, const Bytes& prefix);
// Length of the digest the state makes.
size_t DigestLength(const DigestState& state);
bool DigestAdd(DigestState& state, const uint8_t* data, size_t len);
bool DigestFinish(DigestState& state, Bytes& out);

bool RandomBytes(uint8_t* out, size_t len);

}  // namespace softkey
