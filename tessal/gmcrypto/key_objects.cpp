#include "gmcrypto/key_objects.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

#include "tessal/engine.h"

namespace {

ENGINE* VuvEngine() {
    ENGINE* engine = ENGINE_by_id("VUV");
    if (!engine) {
        ERR_clear_error();
        Engine::InitRsaEngine();
        engine = ENGINE_by_id("VUV");
    }
    return engine;
}

// The method must be on the RSA object before it is assigned to the key, or it has no effect.
EVP_PKEY* RsaWithMethod(BIGNUM* n, BIGNUM* e) {
    ENGINE* engine = VuvEngine();
    RSA* rsa = engine ? RSA_new_method(engine) : nullptr;
    if (engine) ENGINE_free(engine);
    if (!rsa || RSA_set0_key(rsa, n, e, nullptr) != 1) {
        RSA_free(rsa);
        BN_free(n);
        BN_free(e);
        return nullptr;
    }
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (!pkey || EVP_PKEY_set1_RSA(pkey, rsa) != 1) {
        EVP_PKEY_free(pkey);
        pkey = nullptr;
    }
    RSA_free(rsa);
    return pkey;
}

}  // namespace

void EnsureRsaEngineRegistered() {
    if (ENGINE* engine = VuvEngine()) ENGINE_free(engine);
}

EVP_PKEY* KeyBackedRsaFromCertificate(X509* cert) {
    // The legacy view of the certificate's key is made once and kept with the certificate.
    EVP_PKEY* pub = cert ? X509_get0_pubkey(cert) : nullptr;
    const RSA* rsa = pub ? EVP_PKEY_get0_RSA(pub) : nullptr;
    const BIGNUM *n = nullptr, *e = nullptr;
    if (rsa) RSA_get0_key(rsa, &n, &e, nullptr);
    if (!n || !e) {
        ERR_clear_error();
        return nullptr;
    }
    return RsaWithMethod(BN_dup(n), BN_dup(e));
}

EVP_PKEY* KeyBackedRsaFromBlob(const RSAPUBLICKEYBLOB& blob) {
    if (blob.BitLen == 0 || blob.BitLen > MAX_RSA_MODULUS_LEN * 8 || blob.BitLen % 8) return nullptr;
    size_t bytes = blob.BitLen / 8;
    BIGNUM* n = BN_bin2bn(blob.Modulus + MAX_RSA_MODULUS_LEN - bytes, static_cast<int>(bytes), nullptr);
    BIGNUM* e = BN_bin2bn(blob.PublicExponent, MAX_RSA_EXPONENT_LEN, nullptr);
    return RsaWithMethod(n, e);
}

EVP_PKEY* KeyBackedSm2FromCertificate(X509* cert) {
    EVP_PKEY* pub = cert ? X509_get0_pubkey(cert) : nullptr;
    unsigned char point[65];
    size_t len = 0;
    if (!pub || EVP_PKEY_get_octet_string_param(pub, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point, &len) != 1)
        return nullptr;
    EC_KEY* ec = EC_KEY_new_by_curve_name(NID_sm2);
    const unsigned char* p = point;
    if (!ec || !o2i_ECPublicKey(&ec, &p, static_cast<long>(len))) {
        EC_KEY_free(ec);
        return nullptr;
    }
    EVP_PKEY* pkey = EVP_PKEY_new();
    ENGINE* engine = VuvEngine();
    bool ok = pkey && EVP_PKEY_set1_EC_KEY(pkey, ec) == 1 && engine && EVP_PKEY_set1_engine(pkey, engine) == 1;
    if (engine) ENGINE_free(engine);
    EC_KEY_free(ec);
    if (!ok) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}
