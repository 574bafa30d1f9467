#include "core/envelopes.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/rand.h>

#include <cstring>
#include <stdexcept>

#include "core/softcrypto.h"
#include "skf/skf.h"

namespace softkey {
namespace {

void PutField(EVP_PKEY* key, const char* name, BYTE* field, int width) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1 || BN_bn2binpad(bn, field, width) != width) {
        BN_free(bn);
        throw std::runtime_error(std::string("no key component ") + name);
    }
    BN_free(bn);
}

}  // namespace

Bytes RsaPrivateKeyBlob(EVP_PKEY* key) {
    RSAPRIVATEKEYBLOB blob{};
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    PutField(key, OSSL_PKEY_PARAM_RSA_N, blob.Modulus, 256);
    PutField(key, OSSL_PKEY_PARAM_RSA_E, blob.PublicExponent, 4);
    PutField(key, OSSL_PKEY_PARAM_RSA_D, blob.PrivateExponent, 256);
    PutField(key, OSSL_PKEY_PARAM_RSA_FACTOR1, blob.Prime1, 128);
    PutField(key, OSSL_PKEY_PARAM_RSA_FACTOR2, blob.Prime2, 128);
    PutField(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, blob.Prime1Exponent, 128);
    PutField(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, blob.Prime2Exponent, 128);
    PutField(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, blob.Coefficient, 128);
    Bytes padded(reinterpret_cast<BYTE*>(&blob), reinterpret_cast<BYTE*>(&blob) + sizeof blob);
    padded.resize((padded.size() + 15) / 16 * 16, 0);
    return padded;
}

Bytes Sm2Envelope(EVP_PKEY* signPub, EVP_PKEY* encKey) {
    uint8_t ex[32], ey[32], session[16];
    Bytes scalar(64, 0);
    BIGNUM* d = nullptr;
    if (!Sm2PublicPoint(encKey, ex, ey) ||
        EVP_PKEY_get_bn_param(encKey, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1)
        throw std::runtime_error("not an SM2 private key");
    BN_bn2binpad(d, scalar.data() + 32, 32);
    BN_free(d);
    RAND_bytes(session, sizeof session);
    Bytes encryptedScalar;
    Sm2Cipher wrapped;
    if (!Sm4EcbEncrypt(session, scalar.data(), 64, encryptedScalar) ||
        !Sm2Encrypt(signPub, session, sizeof session, wrapped))
        throw std::runtime_error("wrapping failed");
    Bytes envelope(sizeof(ENVELOPEDKEYBLOB) + 15, 0);
    auto* env = reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data());
    env->Version = 1;
    env->ulSymmAlgID = SGD_SM4_ECB;
    env->ulBits = 256;
    std::memcpy(env->cbEncryptedPriKey, encryptedScalar.data(), 64);
    env->PubKey.BitLen = 256;
    std::memcpy(env->PubKey.XCoordinate + 32, ex, 32);
    std::memcpy(env->PubKey.YCoordinate + 32, ey, 32);
    std::memcpy(env->ECCCipherBlob.XCoordinate + 32, wrapped.x, 32);
    std::memcpy(env->ECCCipherBlob.YCoordinate + 32, wrapped.y, 32);
    std::memcpy(env->ECCCipherBlob.HASH, wrapped.hash, 32);
    env->ECCCipherBlob.CipherLen = 16;
    std::memcpy(env->ECCCipherBlob.Cipher, wrapped.cipher.data(), 16);
    return envelope;
}

Bytes RsaEnvelope(EVP_PKEY* signPub, EVP_PKEY* encKey) {
    Bytes padded = RsaPrivateKeyBlob(encKey);
    uint8_t session[16];
    Bytes envelope, body;
    if (RAND_bytes(session, sizeof session) != 1 ||
        !RsaEncrypt(signPub, session, sizeof session, envelope) ||
        !Sm4EcbEncrypt(session, padded.data(), padded.size(), body))
        return Bytes();
    envelope.insert(envelope.end(), body.begin(), body.end());
    return envelope;
}

}  // namespace softkey
