#include "core/softcrypto.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <stdexcept>

namespace softkey {
namespace {

struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

PkeyCtx CtxFor(EVP_PKEY* key) { return PkeyCtx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)); }

Bn BnFrom(const uint8_t* data, size_t len) {
    return Bn(BN_bin2bn(data, static_cast<int>(len), nullptr));
}

bool BnTo32(const BIGNUM* bn, uint8_t out[32]) {
    return bn && BN_num_bytes(bn) <= 32 && BN_bn2binpad(bn, out, 32) == 32;
}

Pkey FromData(const char* type, OSSL_PARAM_BLD* bld, int selection) {
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params) != 1)
        key = nullptr;
    OSSL_PARAM_free(params);
    return Pkey(key);
}

// The SM2 curve's parameters, for the identity digest.
struct Sm2Curve {
    uint8_t a[32], b[32], gx[32], gy[32];
    Sm2Curve() {
        EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
        Bn p(BN_new()), ba(BN_new()), bb(BN_new()), x(BN_new()), y(BN_new());
        EC_GROUP_get_curve(group, p.get(), ba.get(), bb.get(), nullptr);
        EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), x.get(), y.get(),
                                        nullptr);
        BnTo32(ba.get(), a);
        BnTo32(bb.get(), b);
        BnTo32(x.get(), gx);
        BnTo32(y.get(), gy);
        EC_GROUP_free(group);
    }
};

ASN1_TYPE* IntegerType(const uint8_t* be, size_t len) {
    Bn bn = BnFrom(be, len);
    ASN1_INTEGER* i = BN_to_ASN1_INTEGER(bn.get(), nullptr);
    ASN1_TYPE* t = ASN1_TYPE_new();
    ASN1_TYPE_set(t, V_ASN1_INTEGER, i);
    return t;
}

ASN1_TYPE* OctetsType(const uint8_t* data, size_t len) {
    ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(s, data, static_cast<int>(len));
    ASN1_TYPE* t = ASN1_TYPE_new();
    ASN1_TYPE_set(t, V_ASN1_OCTET_STRING, s);
    return t;
}

}  // namespace

Bytes GenerateKeyPair(KeyAlg alg, int bits, Bytes& publicSpki) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, alg == KeyAlg::Rsa ? "RSA" : "SM2", nullptr));
    EVP_PKEY* key = nullptr;
    bool ok = ctx && EVP_PKEY_keygen_init(ctx.get()) == 1;
    if (ok && alg == KeyAlg::Rsa) ok = EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) == 1;
    if (!ok || EVP_PKEY_generate(ctx.get(), &key) != 1) throw std::runtime_error("key generation failed");
    Pkey owned(key);
    publicSpki = PublicKeyDer(key);
    Bytes priv = PrivateKeyDer(key);
    if (publicSpki.empty() || priv.empty()) throw std::runtime_error("key encoding failed");
    return priv;
}

Bytes PrivateKeyDer(EVP_PKEY* key) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    if (!info) return Bytes();
    unsigned char* der = nullptr;
    int len = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (len <= 0) return Bytes();
    Bytes out(der, der + len);
    OPENSSL_clear_free(der, static_cast<size_t>(len));
    return out;
}

Bytes PublicKeyDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    int len = i2d_PUBKEY(key, &der);
    if (len <= 0) return Bytes();
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

Pkey LoadPrivateKey(const Bytes& pkcs8) {
    const unsigned char* p = pkcs8.data();
    PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(pkcs8.size()));
    if (!info) return Pkey();
    EVP_PKEY* key = EVP_PKCS82PKEY(info);
    PKCS8_PRIV_KEY_INFO_free(info);
    return Pkey(key);
}

Pkey LoadPublicKey(const Bytes& spki) {
    const unsigned char* p = spki.data();
    return Pkey(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
}

std::string PublicKeyPem(const Bytes& spki) {
    Pkey key = LoadPublicKey(spki);
    if (!key) return std::string();
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key.get());
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(len));
    BIO_free(bio);
    return pem;
}

bool Sm2PublicPoint(EVP_PKEY* key, uint8_t x[32], uint8_t y[32]) {
    uint8_t encoded[65];
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, encoded,
                                        sizeof encoded, &len) != 1 ||
        len != 65 || encoded[0] != 0x04)
        return false;
    std::memcpy(x, encoded + 1, 32);
    std::memcpy(y, encoded + 33, 32);
    return true;
}

Pkey Sm2PublicFromPoint(const uint8_t x[32], const uint8_t y[32]) {
    uint8_t encoded[65];
    encoded[0] = 0x04;
    std::memcpy(encoded + 1, x, 32);
    std::memcpy(encoded + 33, y, 32);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, SN_sm2, 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded);
    Pkey key = FromData("SM2", bld, EVP_PKEY_PUBLIC_KEY);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

Pkey Sm2PrivateFromScalar(const uint8_t d[32]) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    Bn priv = BnFrom(d, 32);
    EC_POINT* point = EC_POINT_new(group);
    uint8_t encoded[65];
    bool ok = !BN_is_zero(priv.get()) && BN_cmp(priv.get(), EC_GROUP_get0_order(group)) < 0 &&
              EC_POINT_mul(group, point, priv.get(), nullptr, nullptr, nullptr) == 1 &&
              EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, encoded,
                                 sizeof encoded, nullptr) == sizeof encoded;
    EC_POINT_free(point);
    EC_GROUP_free(group);
    if (!ok) return Pkey();
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, SN_sm2, 0);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, priv.get());
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded);
    Pkey key = FromData("SM2", bld, EVP_PKEY_KEYPAIR);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

bool Sm2SignDigest(EVP_PKEY* key, const uint8_t* digest, size_t len, uint8_t r[32], uint8_t s[32]) {
    PkeyCtx ctx = CtxFor(key);
    uint8_t der[80];
    size_t derLen = sizeof der;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), der, &derLen, digest, len) != 1)
        return false;
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen));
    bool ok = sig && BnTo32(ECDSA_SIG_get0_r(sig), r) && BnTo32(ECDSA_SIG_get0_s(sig), s);
    ECDSA_SIG_free(sig);
    return ok;
}

bool Sm2VerifyDigest(EVP_PKEY* key, const uint8_t* digest, size_t len, const uint8_t r[32],
                     const uint8_t s[32]) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(r, 32, nullptr), BN_bin2bn(s, 32, nullptr));
    unsigned char* der = nullptr;
    int derLen = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (derLen <= 0) return false;
    PkeyCtx ctx = CtxFor(key);
    bool ok = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
              EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLen), digest, len) == 1;
    OPENSSL_free(der);
    return ok;
}

bool Sm2Encrypt(EVP_PKEY* key, const uint8_t* data, size_t len, Sm2Cipher& out) {
    PkeyCtx ctx = CtxFor(key);
    size_t derLen = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &derLen, data, len) != 1)
        return false;
    Bytes der(derLen);
    if (EVP_PKEY_encrypt(ctx.get(), der.data(), &derLen, data, len) != 1) return false;
    const unsigned char* p = der.data();
    STACK_OF(ASN1_TYPE)* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(derLen));
    bool ok = seq && sk_ASN1_TYPE_num(seq) == 4;
    for (int i = 0; ok && i < 4; ++i) {
        ASN1_TYPE* t = sk_ASN1_TYPE_value(seq, i);
        if (i < 2) {
            ok = t->type == V_ASN1_INTEGER;
            if (!ok) break;
            Bn bn(ASN1_INTEGER_to_BN(t->value.integer, nullptr));
            ok = BnTo32(bn.get(), i == 0 ? out.x : out.y);
        } else {
            ok = t->type == V_ASN1_OCTET_STRING;
            if (!ok) break;
            const ASN1_OCTET_STRING* s = t->value.octet_string;
            if (i == 2) {
                ok = ASN1_STRING_length(s) == 32;
                if (ok) std::memcpy(out.hash, ASN1_STRING_get0_data(s), 32);
            } else {
                out.cipher.assign(ASN1_STRING_get0_data(s),
                                  ASN1_STRING_get0_data(s) + ASN1_STRING_length(s));
            }
        }
    }
    sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
    return ok;
}

bool Sm2Decrypt(EVP_PKEY* key, const Sm2Cipher& in, Bytes& plain) {
    STACK_OF(ASN1_TYPE)* seq = sk_ASN1_TYPE_new_null();
    sk_ASN1_TYPE_push(seq, IntegerType(in.x, 32));
    sk_ASN1_TYPE_push(seq, IntegerType(in.y, 32));
    sk_ASN1_TYPE_push(seq, OctetsType(in.hash, 32));
    sk_ASN1_TYPE_push(seq, OctetsType(in.cipher.data(), in.cipher.size()));
    unsigned char* der = nullptr;
    int derLen = i2d_ASN1_SEQUENCE_ANY(seq, &der);
    sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
    if (derLen <= 0) return false;
    PkeyCtx ctx = CtxFor(key);
    size_t plainLen = 0;
    bool ok = ctx && EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
              EVP_PKEY_decrypt(ctx.get(), nullptr, &plainLen, der, static_cast<size_t>(derLen)) == 1;
    if (ok) {
        plain.assign(plainLen, 0);
        ok = EVP_PKEY_decrypt(ctx.get(), plain.data(), &plainLen, der,
                              static_cast<size_t>(derLen)) == 1;
        plain.resize(ok ? plainLen : 0);
    }
    OPENSSL_free(der);
    return ok;
}

Bytes Sm2Z(const uint8_t x[32], const uint8_t y[32], const uint8_t* id, size_t idLen) {
    static const Sm2Curve curve;
    Bytes input;
    size_t bitsLen = idLen * 8;
    input.push_back(static_cast<uint8_t>(bitsLen >> 8));
    input.push_back(static_cast<uint8_t>(bitsLen));
    input.insert(input.end(), id, id + idLen);
    for (const uint8_t* part : {curve.a, curve.b, curve.gx, curve.gy, x, y})
        input.insert(input.end(), part, part + 32);
    Bytes z(32);
    unsigned int zLen = 0;
    EVP_Digest(input.data(), input.size(), z.data(), &zLen, EVP_sm3(), nullptr);
    return z;
}

namespace {

using PkeyInit = int (*)(EVP_PKEY_CTX*);
using PkeyRun = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);

// One RSA operation with `padding`: size query, then the operation itself.
bool RsaRun(EVP_PKEY* key, PkeyInit init, PkeyRun run, int padding, const uint8_t* in, size_t len, Bytes& out) {
    PkeyCtx ctx = CtxFor(key);
    size_t outLen = 0;
    if (!ctx || init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1 ||
        run(ctx.get(), nullptr, &outLen, in, len) != 1)
        return false;
    out.assign(outLen, 0);
    if (run(ctx.get(), out.data(), &outLen, in, len) != 1) return false;
    out.resize(outLen);
    return true;
}

bool RsaPkcs1(EVP_PKEY* key, PkeyInit init, PkeyRun run, const uint8_t* in, size_t len, Bytes& out) {
    return RsaRun(key, init, run, RSA_PKCS1_PADDING, in, len, out);
}

}  // namespace

bool RsaSignRaw(EVP_PKEY* key, const uint8_t* data, size_t len, Bytes& sig) {
    // A block of the modulus size comes padded already: the private-key operation alone.
    int padding = len == static_cast<size_t>(EVP_PKEY_get_size(key)) ? RSA_NO_PADDING : RSA_PKCS1_PADDING;
    return RsaRun(key, EVP_PKEY_sign_init, EVP_PKEY_sign, padding, data, len, sig);
}

bool RsaVerifyRaw(EVP_PKEY* key, const uint8_t* data, size_t len, const uint8_t* sig,
                  size_t sigLen) {
    PkeyCtx ctx = CtxFor(key);
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_verify(ctx.get(), sig, sigLen, data, len) == 1;
}

bool RsaDecrypt(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& plain) {
    return RsaPkcs1(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, in, len, plain);
}

bool RsaEncrypt(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out) {
    return RsaPkcs1(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, in, len, out);
}

bool RsaRawPublic(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out) {
    return RsaRun(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, RSA_NO_PADDING, in, len, out);
}

bool RsaRawPrivate(EVP_PKEY* key, const uint8_t* in, size_t len, Bytes& out) {
    return RsaRun(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, RSA_NO_PADDING, in, len, out);
}

bool RsaPublicParts(EVP_PKEY* key, Bytes& n, Bytes& e) {
    BIGNUM* bn = nullptr;
    BIGNUM* be = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &bn) != 1 ||
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &be) != 1) {
        BN_free(bn);
        return false;
    }
    n.assign(static_cast<size_t>(BN_num_bytes(bn)), 0);
    e.assign(static_cast<size_t>(BN_num_bytes(be)), 0);
    BN_bn2bin(bn, n.data());
    BN_bn2bin(be, e.data());
    BN_free(bn);
    BN_free(be);
    return true;
}

Pkey RsaPublicFromParts(const Bytes& n, const Bytes& e) {
    Bn bn = BnFrom(n.data(), n.size()), be = BnFrom(e.data(), e.size());
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn.get());
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be.get());
    Pkey key = FromData("RSA", bld, EVP_PKEY_PUBLIC_KEY);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

bool RsaPrivateParts(EVP_PKEY* key, RsaParts& parts) {
    Bytes* fields[] = {&parts.n, &parts.e, &parts.d, &parts.p, &parts.q, &parts.dp, &parts.dq, &parts.qinv};
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    for (size_t i = 0; i < 8; ++i) {
        BIGNUM* bn = nullptr;
        if (EVP_PKEY_get_bn_param(key, names[i], &bn) != 1) return false;
        Bn owned(bn);
        fields[i]->assign(static_cast<size_t>(BN_num_bytes(bn)), 0);
        BN_bn2bin(bn, fields[i]->data());
    }
    return true;
}

Pkey RsaPrivateFromParts(const Bytes& n, const Bytes& e, const Bytes& d, const Bytes& p,
                         const Bytes& q, const Bytes& dp, const Bytes& dq, const Bytes& qinv) {
    const Bytes* parts[] = {&n, &e, &d, &p, &q, &dp, &dq, &qinv};
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    std::vector<Bn> bns;
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    for (size_t i = 0; i < 8; ++i) {
        bns.push_back(BnFrom(parts[i]->data(), parts[i]->size()));
        OSSL_PARAM_BLD_push_BN(bld, names[i], bns.back().get());
    }
    Pkey key = FromData("RSA", bld, EVP_PKEY_KEYPAIR);
    OSSL_PARAM_BLD_free(bld);
    if (!key) return key;
    // Reject inconsistent components: a wrong key must not be stored as if it were usable.
    PkeyCtx check = CtxFor(key.get());
    if (!check || EVP_PKEY_pairwise_check(check.get()) != 1) return Pkey();
    return key;
}

static bool Sm4Ecb(bool encrypt, const uint8_t key[16], const uint8_t* in, size_t len, Bytes& out) {
    if (len % 16 != 0) return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    out.assign(len + 16, 0);
    int n1 = 0, n2 = 0;
    bool ok = ctx && EVP_CipherInit_ex(ctx.get(), EVP_sm4_ecb(), nullptr, key, nullptr, encrypt) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
              EVP_CipherUpdate(ctx.get(), out.data(), &n1, in, static_cast<int>(len)) == 1 &&
              EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) == 1;
    out.resize(ok ? static_cast<size_t>(n1 + n2) : 0);
    return ok;
}

bool Sm4EcbDecrypt(const uint8_t key[16], const uint8_t* in, size_t len, Bytes& out) {
    return Sm4Ecb(false, key, in, len, out);
}

bool Sm4EcbEncrypt(const uint8_t key[16], const uint8_t* in, size_t len, Bytes& out) {
    return Sm4Ecb(true, key, in, len, out);
}

namespace {
constexpr char kSealLabel[] = "softkey-private-key-v1";
constexpr size_t kNonceLen = 12, kTagLen = 16;
}  // namespace

Bytes Seal(const Bytes& storeKey, const Bytes& plain) {
    if (storeKey.size() != 32) throw std::runtime_error("store key has the wrong size");
    Bytes out(kNonceLen + plain.size() + kTagLen);
    if (!RandomBytes(out.data(), kNonceLen)) throw std::runtime_error("no random bytes");
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    int n = 0, fin = 0;
    bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, storeKey.data(), out.data()) == 1 &&
              EVP_EncryptUpdate(ctx.get(), nullptr, &n, reinterpret_cast<const uint8_t*>(kSealLabel),
                                sizeof kSealLabel - 1) == 1 &&
              EVP_EncryptUpdate(ctx.get(), out.data() + kNonceLen, &n, plain.data(),
                                static_cast<int>(plain.size())) == 1 &&
              EVP_EncryptFinal_ex(ctx.get(), out.data() + kNonceLen + n, &fin) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagLen,
                                  out.data() + kNonceLen + plain.size()) == 1;
    if (!ok) throw std::runtime_error("sealing failed");
    return out;
}

Bytes Unseal(const Bytes& storeKey, const Bytes& sealed) {
    if (storeKey.size() != 32 || sealed.size() < kNonceLen + kTagLen)
        throw std::runtime_error("sealed private key is damaged");
    size_t len = sealed.size() - kNonceLen - kTagLen;
    Bytes plain(len + 16);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    int n = 0, fin = 0;
    Bytes tag(sealed.end() - kTagLen, sealed.end());
    bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, storeKey.data(), sealed.data()) == 1 &&
              EVP_DecryptUpdate(ctx.get(), nullptr, &n, reinterpret_cast<const uint8_t*>(kSealLabel),
                                sizeof kSealLabel - 1) == 1 &&
              EVP_DecryptUpdate(ctx.get(), plain.data(), &n, sealed.data() + kNonceLen,
                                static_cast<int>(len)) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagLen, tag.data()) == 1 &&
              EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &fin) == 1;
    if (!ok) {
        OPENSSL_cleanse(plain.data(), plain.size());
        throw std::runtime_error("sealed private key is damaged or sealed under another store key");
    }
    plain.resize(len);
    return plain;
}

DigestState::~DigestState() { EVP_MD_CTX_free(ctx); }

bool DigestStart(DigestState& state, DigestAlg alg, const Bytes& prefix) {
    EVP_MD_CTX_free(state.ctx);
    state.ctx = EVP_MD_CTX_new();
    const EVP_MD* md = alg == DigestAlg::Sm3 ? EVP_sm3() : alg == DigestAlg::Sha1 ? EVP_sha1() : EVP_sha256();
    return state.ctx && EVP_DigestInit_ex(state.ctx, md, nullptr) == 1 &&
           (prefix.empty() || EVP_DigestUpdate(state.ctx, prefix.data(), prefix.size()) == 1);
}

size_t DigestLength(const DigestState& state) {
    return state.ctx ? static_cast<size_t>(EVP_MD_CTX_get_size(state.ctx)) : 0;
}

bool DigestAdd(DigestState& state, const uint8_t* data, size_t len) {
    return state.ctx && EVP_DigestUpdate(state.ctx, data, len) == 1;
}

bool DigestFinish(DigestState& state, Bytes& out) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!state.ctx || EVP_DigestFinal_ex(state.ctx, md, &len) != 1) return false;
    out.assign(md, md + len);
    return true;
}

bool RandomBytes(uint8_t* out, size_t len) { return RAND_bytes(out, static_cast<int>(len)) == 1; }

}  // namespace softkey
