#include "token/certificate_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <memory>

namespace {

using Bignum = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

constexpr size_t kRsaBlobFixedBytes = 2 * sizeof(ULONG) + MAX_RSA_EXPONENT_LEN;
constexpr size_t kEccFieldBytes = ECC_MAX_XCOORDINATE_BITS_LEN / 8;

Bignum Number(const unsigned char* bytes, size_t length) {
    return Bignum(BN_bin2bn(bytes, static_cast<int>(length), nullptr), BN_free);
}

Bignum KeyParameter(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    EVP_PKEY_get_bn_param(key, name, &value);
    return Bignum(value, BN_free);
}

bool Equal(const Bignum& a, const Bignum& b) { return a && b && BN_cmp(a.get(), b.get()) == 0; }

// The modulus sits right-aligned in its field, or in its first BitLen/8 bytes: either is taken.
bool RsaKeyMatches(EVP_PKEY* key, const unsigned char* blob, size_t length) {
    if (length < kRsaBlobFixedBytes + MAX_RSA_MODULUS_LEN) return false;
    ULONG bits = 0;
    std::memcpy(&bits, blob + sizeof(ULONG), sizeof bits);
    const unsigned char* modulus = blob + 2 * sizeof(ULONG);
    size_t field = length - kRsaBlobFixedBytes;
    size_t bytes = bits / 8;
    if (bits == 0 || bits % 8 != 0 || bytes > field) return false;
    Bignum n = KeyParameter(key, OSSL_PKEY_PARAM_RSA_N),
           e = KeyParameter(key, OSSL_PKEY_PARAM_RSA_E);
    if (!Equal(e, Number(modulus + field, MAX_RSA_EXPONENT_LEN))) return false;
    return Equal(n, Number(modulus, field)) || Equal(n, Number(modulus, bytes));
}

bool EccKeyMatches(EVP_PKEY* key, const unsigned char* blob, size_t length) {
    if (length < sizeof(ECCPUBLICKEYBLOB)) return false;
    ECCPUBLICKEYBLOB ecc;
    std::memcpy(&ecc, blob, sizeof ecc);
    return Equal(KeyParameter(key, OSSL_PKEY_PARAM_EC_PUB_X),
                 Number(ecc.XCoordinate, kEccFieldBytes)) &&
           Equal(KeyParameter(key, OSSL_PKEY_PARAM_EC_PUB_Y),
                 Number(ecc.YCoordinate, kEccFieldBytes));
}

}  // namespace

CertificatePtr ParseCertificateExactly(const unsigned char* der, size_t length) {
    if (!der || length == 0 || length > static_cast<size_t>(LONG_MAX)) return CertificatePtr();
    const unsigned char* p = der;
    CertificatePtr cert(d2i_X509(nullptr, &p, static_cast<long>(length)));
    if (cert && p != der + length) cert.reset();  // bytes after the certificate
    if (!cert) ERR_clear_error();
    return cert;
}

bool CertificateHasKey(X509* cert, const unsigned char* blob, size_t length) {
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert) : nullptr;
    if (!key || !blob) {
        ERR_clear_error();  // a key of an algorithm OpenSSL cannot read
        return false;
    }
    if (EVP_PKEY_is_a(key, "RSA")) return RsaKeyMatches(key, blob, length);
    if (EVP_PKEY_is_a(key, "SM2") || EVP_PKEY_is_a(key, "EC"))
        return EccKeyMatches(key, blob, length);
    return false;
}
