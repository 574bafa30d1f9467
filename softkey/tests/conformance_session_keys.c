/* Conformance of the software key's session keys, external-key operations and algorithm
 * identifiers, as a third-party C client sees them: the library loaded with dlopen, only the SKF
 * header, every result checked against OpenSSL.
 * Usage: conformance_session_keys SOFTKEY_TOOL LIBSOFTKEY */
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "skf_c_client.h"

#define SERIAL "CONF-SK"
#define SM2_SIGNATURE_GMT0006 0x00020200

static DEVHANDLE g_dev;
static HAPPLICATION g_app;

/* --- OpenSSL side -------------------------------------------------------------------------- */

static void EccPublicBlob(EVP_PKEY* key, ECCPUBLICKEYBLOB* blob) {
    unsigned char point[65];
    size_t len = 0;
    memset(blob, 0, sizeof *blob);
    CHECK(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                          &len) == 1 &&
          len == 65);
    blob->BitLen = 256;
    memcpy(blob->XCoordinate + 32, point + 1, 32);
    memcpy(blob->YCoordinate + 32, point + 33, 32);
}

static void EccPrivateBlob(EVP_PKEY* key, ECCPRIVATEKEYBLOB* blob) {
    BIGNUM* d = NULL;
    memset(blob, 0, sizeof *blob);
    CHECK(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1);
    blob->BitLen = 256;
    BN_bn2binpad(d, blob->PrivateKey + 32, 32);
    BN_clear_free(d);
}

static EVP_PKEY* Sm2KeyOfBlob(const ECCPUBLICKEYBLOB* blob) {
    unsigned char point[65];
    point[0] = 0x04;
    memcpy(point + 1, blob->XCoordinate + 32, 32);
    memcpy(point + 33, blob->YCoordinate + 32, 32);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(NULL, "SM2", NULL);
    EVP_PKEY* key = NULL;
    CHECK(EVP_PKEY_fromdata_init(ctx) == 1 &&
          EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

/* Runs an EVP_PKEY operation (encrypt, decrypt or sign) with an optional RSA padding. */
typedef int (*PkeyInit)(EVP_PKEY_CTX*);
typedef int (*PkeyRun)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
static size_t PkeyOp(EVP_PKEY* key, PkeyInit init, PkeyRun run, int padding,
                     const unsigned char* in, size_t len, unsigned char* out, size_t cap) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, NULL);
    size_t outLen = cap;
    int ok = ctx && init(ctx) == 1 &&
             (padding < 0 || EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1) &&
             run(ctx, out, &outLen, in, len) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok ? outLen : 0;
}

/* DER of OpenSSL's SM2 cipher text: SEQUENCE { INTEGER x, INTEGER y, OCTET STRING hash,
 * OCTET STRING cipher }. */
static size_t DerHeader(unsigned char* out, unsigned char tag, size_t len) {
    size_t n = 0;
    out[n++] = tag;
    if (len < 0x80) {
        out[n++] = (unsigned char)len;
    } else if (len < 0x100) {
        out[n++] = 0x81;
        out[n++] = (unsigned char)len;
    } else {
        out[n++] = 0x82;
        out[n++] = (unsigned char)(len >> 8);
        out[n++] = (unsigned char)len;
    }
    return n;
}

static size_t DerInteger(unsigned char* out, const unsigned char value[32]) {
    size_t skip = 0;
    while (skip < 31 && value[skip] == 0) ++skip;
    size_t len = 32 - skip + (value[skip] & 0x80 ? 1 : 0);
    size_t n = DerHeader(out, 0x02, len);
    if (value[skip] & 0x80) out[n++] = 0;
    memcpy(out + n, value + skip, 32 - skip);
    return n + 32 - skip;
}

static size_t DerOf(const ECCCIPHERBLOB* blob, unsigned char* out) {
    unsigned char body[2048];
    size_t n = DerInteger(body, blob->XCoordinate + 32);
    n += DerInteger(body + n, blob->YCoordinate + 32);
    n += DerHeader(body + n, 0x04, 32);
    memcpy(body + n, blob->HASH, 32);
    n += 32;
    n += DerHeader(body + n, 0x04, blob->CipherLen);
    memcpy(body + n, blob->Cipher, blob->CipherLen);
    n += blob->CipherLen;
    size_t h = DerHeader(out, 0x30, n);
    memcpy(out + h, body, n);
    return h + n;
}

/* Reads one DER element with `tag`; its value and length. */
static int DerRead(const unsigned char** p, const unsigned char* end, unsigned char tag,
                   const unsigned char** value, size_t* len) {
    if (end - *p < 2 || (*p)[0] != tag) return 0;
    size_t n = (*p)[1], at = 2;
    if (n == 0x81 || n == 0x82) {
        size_t bytes = n & 0x7f;
        if ((size_t)(end - *p) < 2 + bytes) return 0;
        n = 0;
        for (size_t i = 0; i < bytes; ++i) n = (n << 8) | (*p)[2 + i];
        at += bytes;
    }
    if ((size_t)(end - *p) < at + n) return 0;
    *value = *p + at;
    *len = n;
    *p += at + n;
    return 1;
}

static int DerIntegerTo32(const unsigned char** p, const unsigned char* end,
                          unsigned char out[32]) {
    const unsigned char* v;
    size_t len;
    if (!DerRead(p, end, 0x02, &v, &len)) return 0;
    while (len > 32 && *v == 0) ++v, --len;
    if (len > 32) return 0;
    memset(out, 0, 32);
    memcpy(out + 32 - len, v, len);
    return 1;
}

/* Fills an ECCCIPHERBLOB (with room for the cipher bytes) from OpenSSL's DER. */
static int BlobOfDer(const unsigned char* der, size_t derLen, ECCCIPHERBLOB* blob) {
    const unsigned char *p = der, *end = der + derLen, *seq, *hash, *cipher;
    size_t seqLen, hashLen, cipherLen;
    if (!DerRead(&p, end, 0x30, &seq, &seqLen)) return 0;
    p = seq;
    end = seq + seqLen;
    memset(blob, 0, ECC_CIPHER_HEADER_LEN);
    if (!DerIntegerTo32(&p, end, blob->XCoordinate + 32) ||
        !DerIntegerTo32(&p, end, blob->YCoordinate + 32) ||
        !DerRead(&p, end, 0x04, &hash, &hashLen) || hashLen != 32 ||
        !DerRead(&p, end, 0x04, &cipher, &cipherLen))
        return 0;
    memcpy(blob->HASH, hash, 32);
    blob->CipherLen = (ULONG)cipherLen;
    memcpy(blob->Cipher, cipher, cipherLen);
    return 1;
}

/* SM2 encryption by OpenSSL, as an ECCCIPHERBLOB in `buffer`; the blob's total length. */
static size_t OpenSslSm2Encrypt(EVP_PKEY* key, const unsigned char* plain, size_t len,
                                unsigned char* buffer) {
    unsigned char der[1024];
    size_t derLen =
        PkeyOp(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, -1, plain, len, der, sizeof der);
    CHECK(derLen > 0);
    CHECK(BlobOfDer(der, derLen, (ECCCIPHERBLOB*)buffer));
    return ECC_CIPHER_HEADER_LEN + ((ECCCIPHERBLOB*)buffer)->CipherLen;
}

static void Sm4EcbBlock(const unsigned char key[16], const unsigned char in[16],
                        unsigned char out[16]) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    CHECK(EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), NULL, key, NULL) == 1 &&
          EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
          EVP_EncryptUpdate(ctx, out, &len, in, 16) == 1 && len == 16);
    EVP_CIPHER_CTX_free(ctx);
}

static void Sm4EcbEncrypt(const unsigned char key[16], const unsigned char* in, size_t len,
                          unsigned char* out) {
    for (size_t i = 0; i < len; i += 16) Sm4EcbBlock(key, in + i, out + i);
}

/* --- Library side -------------------------------------------------------------------------- */

/* True when the key handle encrypts a block in ECB as SM4 under `key` does. */
static int HandleHoldsKey(HANDLE h, const unsigned char key[16]) {
    BLOCKCIPHERPARAM param;
    unsigned char block[16], expected[16], got[16];
    ULONG len = sizeof got;
    memset(&param, 0, sizeof param);
    RAND_bytes(block, sizeof block);
    Sm4EcbBlock(key, block, expected);
    return SKF_FN(SKF_EncryptInit)(h, param) == SAR_OK &&
           SKF_FN(SKF_Encrypt)(h, block, 16, got, &len) == SAR_OK && len == 16 &&
           memcmp(got, expected, 16) == 0;
}

static HCONTAINER NewContainer(const char* name) {
    HCONTAINER con = NULL;
    CHECK_RC(SKF_FN(SKF_CreateContainer)(g_app, (LPSTR)name, &con), SAR_OK);
    return con;
}

/* Gives the container an SM2 encryption key pair of OpenSSL's making, in the standard envelope
 * (the private key under an SM4 key, the SM4 key encrypted to the container's signing key). */
static void ImportEncryptionKey(HCONTAINER con, const ECCPUBLICKEYBLOB* signPub, EVP_PKEY* encKey) {
    unsigned char buffer[sizeof(ENVELOPEDKEYBLOB) + 64];
    ENVELOPEDKEYBLOB* env = (ENVELOPEDKEYBLOB*)buffer;
    unsigned char session[16], scalar[64];
    ECCPRIVATEKEYBLOB priv;
    memset(buffer, 0, sizeof buffer);
    env->Version = 1;
    env->ulSymmAlgID = SGD_SM4_ECB;
    env->ulBits = 256;
    EccPrivateBlob(encKey, &priv);
    memcpy(scalar, priv.PrivateKey, 64);
    RAND_bytes(session, sizeof session);
    Sm4EcbEncrypt(session, scalar, sizeof scalar, env->cbEncryptedPriKey);
    EccPublicBlob(encKey, &env->PubKey);
    EVP_PKEY* signKey = Sm2KeyOfBlob(signPub);
    OpenSslSm2Encrypt(signKey, session, sizeof session, (unsigned char*)&env->ECCCipherBlob);
    EVP_PKEY_free(signKey);
    CHECK_RC(SKF_FN(SKF_ImportECCKeyPair)(con, env), SAR_OK);
}

/* --- Checks -------------------------------------------------------------------------------- */

static void CheckIdentifiers(void) {
    DEVINFO info;
    ECCPUBLICKEYBLOB pub;
    CHECK_RC(SKF_FN(SKF_GetDevInfo)(g_dev, &info), SAR_OK);
    CHECK((info.AlgAsymCap & SGD_RSA) && (info.AlgAsymCap & SGD_SM2_1) == SGD_SM2_1 &&
          (info.AlgAsymCap & SGD_SM2_3) == SGD_SM2_3);
    CHECK((info.AlgAsymCap & 0x0200) == 0); /* no SM2 key exchange */
    CHECK((info.AlgHashCap & SGD_SM3) && (info.AlgHashCap & SGD_SHA1) &&
          (info.AlgHashCap & SGD_SHA256));

    /* SM2 signing key pairs under either standard's identifier. */
    HCONTAINER con = NewContainer("gmt0006");
    CHECK_RC(SKF_FN(SKF_GenECCKeyPair)(con, SM2_SIGNATURE_GMT0006, &pub), SAR_OK);
    ULONG type = 0;
    CHECK_RC(SKF_FN(SKF_GetContainerType)(con, &type), SAR_OK);
    CHECK(type == CONTAINER_TYPE_ECC);
    CHECK_RC(SKF_FN(SKF_GenECCKeyPair)(con, SGD_SM2_1, &pub), SAR_OK);
    CHECK_RC(SKF_FN(SKF_GenECCKeyPair)(con, SGD_SM2_3, &pub), SAR_NOTSUPPORTYETERR);
    CHECK_RC(SKF_FN(SKF_CloseContainer)(con), SAR_OK);

    /* SHA-1 as OpenSSL computes it, with the length query. */
    HANDLE hash = NULL;
    unsigned char digest[32], expected[20];
    ULONG len = 0;
    unsigned int expectedLen = 0;
    EVP_Digest("abc", 3, expected, &expectedLen, EVP_sha1(), NULL);
    CHECK_RC(SKF_FN(SKF_DigestInit)(g_dev, SGD_SHA1, NULL, NULL, 0, &hash), SAR_OK);
    CHECK_RC(SKF_FN(SKF_Digest)(hash, (BYTE*)"abc", 3, NULL, &len), SAR_OK);
    CHECK(len == 20);
    len = 19;
    CHECK_RC(SKF_FN(SKF_Digest)(hash, (BYTE*)"abc", 3, digest, &len), SAR_BUFFER_TOO_SMALL);
    len = sizeof digest;
    CHECK_RC(SKF_FN(SKF_Digest)(hash, (BYTE*)"abc", 3, digest, &len), SAR_OK);
    CHECK(len == 20 && memcmp(digest, expected, 20) == 0);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(hash), SAR_OK);
}

static void CheckEccSessionKeyExport(HCONTAINER con) {
    EVP_PKEY* peer = EVP_PKEY_Q_keygen(NULL, NULL, "SM2");
    ECCPUBLICKEYBLOB pub;
    unsigned char buffer[ECC_CIPHER_HEADER_LEN + 64], der[512], session[64];
    ECCCIPHERBLOB* blob = (ECCCIPHERBLOB*)buffer;
    HANDLE key = NULL;
    EccPublicBlob(peer, &pub);
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(con, SGD_SM4_ECB, &pub, blob, &key), SAR_OK);
    CHECK(blob->CipherLen == 16);
    size_t derLen = DerOf(blob, der);
    size_t len = PkeyOp(peer, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, -1, der, derLen, session,
                        sizeof session);
    CHECK(len == 16);
    CHECK(HandleHoldsKey(key, session));
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_OK);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_INVALIDHANDLEERR);
    BLOCKCIPHERPARAM param;
    memset(&param, 0, sizeof param);
    CHECK_RC(SKF_FN(SKF_EncryptInit)(key, param), SAR_INVALIDHANDLEERR);

    /* Refused: a wrong BitLen, a point off the curve, SM1, missing arguments, a device handle. */
    ULONG before = ClientOpenHandles();
    ECCPUBLICKEYBLOB bad = pub;
    bad.BitLen = 512;
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(con, SGD_SM4_ECB, &bad, blob, &key), SAR_INDATAERR);
    bad = pub;
    bad.YCoordinate[63] ^= 1;
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(con, SGD_SM4_ECB, &bad, blob, &key), SAR_INDATAERR);
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(con, SGD_SM1_ECB, &pub, blob, &key),
             SAR_NOTSUPPORTYETERR);
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(con, SGD_SM4_ECB, &pub, NULL, &key),
             SAR_INVALIDPARAMERR);
    CHECK_RC(SKF_FN(SKF_ECCExportSessionKey)(g_dev, SGD_SM4_ECB, &pub, blob, &key),
             SAR_INVALIDHANDLEERR);
    CHECK(ClientOpenHandles() == before);
    EVP_PKEY_free(peer);
}

static void CheckEccSessionKeyImport(HCONTAINER con, const ECCPUBLICKEYBLOB* signPub) {
    HANDLE key = NULL;
    unsigned char session[16], buffer[ECC_CIPHER_HEADER_LEN + 64];
    RAND_bytes(session, sizeof session);
    EVP_PKEY* encKey = EVP_PKEY_Q_keygen(NULL, NULL, "SM2");

    /* Without an encryption key pair there is nothing to unwrap with. */
    size_t len = OpenSslSm2Encrypt(encKey, session, sizeof session, buffer);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len, &key),
             SAR_KEYNOTFOUNTERR);

    ImportEncryptionKey(con, signPub, encKey);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len, &key), SAR_OK);
    CHECK(HandleHoldsKey(key, session));
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_OK);

    /* Refused: CipherLen past the bytes given, a session key of the wrong size, a changed hash,
     * a header cut short. */
    ULONG before = ClientOpenHandles();
    ECCCIPHERBLOB* blob = (ECCCIPHERBLOB*)buffer;
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len - 1, &key),
             SAR_INDATALENERR);
    blob->CipherLen = 17;
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len + 1, &key),
             SAR_INDATALENERR);
    blob->CipherLen = 0xFFFFFFF0u;
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len, &key),
             SAR_INDATALENERR);
    blob->CipherLen = 16;
    blob->HASH[0] ^= 1;
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, (ULONG)len, &key),
             SAR_INDATAERR);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, buffer, 100, &key), SAR_INDATALENERR);
    CHECK(ClientOpenHandles() == before);
    EVP_PKEY_free(encKey);
}

static void CheckRsaSessionKeyExport(HCONTAINER con) {
    EVP_PKEY* peer = EVP_PKEY_Q_keygen(NULL, NULL, "RSA", (size_t)1024);
    RSAPUBLICKEYBLOB pub;
    BIGNUM *n = NULL, *e = NULL;
    memset(&pub, 0, sizeof pub);
    CHECK(EVP_PKEY_get_bn_param(peer, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
          EVP_PKEY_get_bn_param(peer, OSSL_PKEY_PARAM_RSA_E, &e) == 1);
    pub.AlgID = SGD_RSA;
    pub.BitLen = 1024;
    BN_bn2binpad(n, pub.Modulus + MAX_RSA_MODULUS_LEN - 128, 128);
    BN_bn2binpad(e, pub.PublicExponent, MAX_RSA_EXPONENT_LEN);
    BN_free(n);
    BN_free(e);

    unsigned char wrapped[256], session[128];
    ULONG len = 0;
    HANDLE key = NULL;
    ULONG before = ClientOpenHandles();
    CHECK_RC(SKF_FN(SKF_RSAExportSessionKey)(con, SGD_SM4_ECB, &pub, NULL, &len, &key), SAR_OK);
    CHECK(len == 128);
    len = 127;
    CHECK_RC(SKF_FN(SKF_RSAExportSessionKey)(con, SGD_SM4_ECB, &pub, wrapped, &len, &key),
             SAR_BUFFER_TOO_SMALL);
    CHECK(ClientOpenHandles() == before); /* no key for a length query or a short buffer */
    len = sizeof wrapped;
    CHECK_RC(SKF_FN(SKF_RSAExportSessionKey)(con, SGD_SM4_ECB, &pub, wrapped, &len, &key), SAR_OK);
    CHECK(len == 128);
    size_t plain = PkeyOp(peer, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, RSA_PKCS1_PADDING, wrapped,
                          len, session, sizeof session);
    CHECK(plain == 16);
    CHECK(HandleHoldsKey(key, session));
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_OK);

    pub.BitLen = 2048; /* names a modulus the blob does not hold */
    len = sizeof wrapped;
    CHECK_RC(SKF_FN(SKF_RSAExportSessionKey)(con, SGD_SM4_ECB, &pub, wrapped, &len, &key),
             SAR_INDATAERR);
    CHECK(ClientOpenHandles() == before);
    EVP_PKEY_free(peer);
}

static void CheckExternalEcc(void) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(NULL, NULL, "SM2");
    ECCPUBLICKEYBLOB pub;
    ECCPRIVATEKEYBLOB priv;
    ECCSIGNATUREBLOB sig;
    unsigned char digest[32], der[256];
    EccPublicBlob(key, &pub);
    EccPrivateBlob(key, &priv);
    RAND_bytes(digest, sizeof digest);

    /* OpenSSL's signature verifies on the key; the key's signature verifies with OpenSSL. */
    size_t derLen = PkeyOp(key, EVP_PKEY_sign_init, EVP_PKEY_sign, -1, digest, 32, der, sizeof der);
    const unsigned char* p = der;
    ECDSA_SIG* theirs = d2i_ECDSA_SIG(NULL, &p, (long)derLen);
    CHECK(theirs != NULL);
    memset(&sig, 0, sizeof sig);
    BN_bn2binpad(ECDSA_SIG_get0_r(theirs), sig.r + 32, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(theirs), sig.s + 32, 32);
    ECDSA_SIG_free(theirs);
    CHECK_RC(SKF_FN(SKF_ExtECCVerify)(g_dev, &pub, digest, 32, &sig), SAR_OK);
    sig.s[63] ^= 1;
    CHECK_RC(SKF_FN(SKF_ExtECCVerify)(g_dev, &pub, digest, 32, &sig), SAR_FAIL);

    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_dev, &priv, digest, 32, &sig), SAR_OK);
    ECDSA_SIG* ours = ECDSA_SIG_new();
    ECDSA_SIG_set0(ours, BN_bin2bn(sig.r + 32, 32, NULL), BN_bin2bn(sig.s + 32, 32, NULL));
    unsigned char* ourDer = NULL;
    int ourLen = i2d_ECDSA_SIG(ours, &ourDer);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, NULL);
    CHECK(EVP_PKEY_verify_init(ctx) == 1 &&
          EVP_PKEY_verify(ctx, ourDer, (size_t)ourLen, digest, 32) == 1);
    EVP_PKEY_CTX_free(ctx);
    OPENSSL_free(ourDer);
    ECDSA_SIG_free(ours);

    /* Decryption of OpenSSL's cipher text; OpenSSL decrypts the key's. */
    const unsigned char message[] = "external SM2 decryption";
    unsigned char buffer[ECC_CIPHER_HEADER_LEN + 64], plain[64];
    ECCCIPHERBLOB* blob = (ECCCIPHERBLOB*)buffer;
    OpenSslSm2Encrypt(key, message, sizeof message, buffer);
    ULONG len = 0;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, NULL, &len), SAR_OK);
    CHECK(len == sizeof message);
    len = sizeof message - 1;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, plain, &len), SAR_BUFFER_TOO_SMALL);
    len = sizeof plain;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, plain, &len), SAR_OK);
    CHECK(len == sizeof message && memcmp(plain, message, sizeof message) == 0);
    CHECK_RC(SKF_FN(SKF_ExtECCEncrypt)(g_dev, &pub, (BYTE*)message, sizeof message, blob), SAR_OK);
    derLen = DerOf(blob, der);
    CHECK(PkeyOp(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, -1, der, derLen, plain,
                 sizeof plain) == sizeof message);
    CHECK(memcmp(plain, message, sizeof message) == 0);

    /* Refused: a wrong BitLen, a zero or out-of-range scalar, bad lengths, a changed hash. */
    ECCPRIVATEKEYBLOB bad = priv;
    bad.BitLen = 512;
    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_dev, &bad, digest, 32, &sig), SAR_INDATAERR);
    len = sizeof plain;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &bad, blob, plain, &len), SAR_INDATAERR);
    memset(bad.PrivateKey, 0, sizeof bad.PrivateKey);
    bad.BitLen = 256;
    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_dev, &bad, digest, 32, &sig), SAR_INDATAERR);
    memset(bad.PrivateKey + 32, 0xFF, 32);
    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_dev, &bad, digest, 32, &sig), SAR_INDATAERR);
    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_dev, &priv, digest, 31, &sig), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_ExtECCSign)(g_app, &priv, digest, 32, &sig), SAR_INVALIDHANDLEERR);
    blob->HASH[5] ^= 1;
    len = sizeof plain;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, plain, &len), SAR_INDATAERR);
    blob->CipherLen = 0;
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, plain, &len), SAR_INDATALENERR);
    blob->CipherLen = 0x7FFFFFFF; /* would read far past the blob */
    CHECK_RC(SKF_FN(SKF_ExtECCDecrypt)(g_dev, &priv, blob, plain, &len), SAR_INDATALENERR);
    EVP_PKEY_free(key);
}

/* The RSA private-key blob of an OpenSSL key. */
static void RsaPrivateBlob(EVP_PKEY* key, RSAPRIVATEKEYBLOB* blob) {
    static const char* const names[] = {
        OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
        OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
        OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
        OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    BYTE* fields[] = {blob->Modulus,        blob->PublicExponent, blob->PrivateExponent,
                      blob->Prime1,         blob->Prime2,         blob->Prime1Exponent,
                      blob->Prime2Exponent, blob->Coefficient};
    const int sizes[] = {MAX_RSA_MODULUS_LEN,     MAX_RSA_EXPONENT_LEN,    MAX_RSA_MODULUS_LEN,
                         MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2,
                         MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2};
    memset(blob, 0, sizeof *blob);
    blob->AlgID = SGD_RSA;
    blob->BitLen = (ULONG)EVP_PKEY_get_bits(key);
    for (int i = 0; i < 8; ++i) {
        BIGNUM* bn = NULL;
        CHECK(EVP_PKEY_get_bn_param(key, names[i], &bn) == 1);
        BN_bn2binpad(bn, fields[i], sizes[i]);
        BN_clear_free(bn);
    }
}

/* The OpenSSL key of an RSA private-key blob, or NULL when its components are not a key. */
static EVP_PKEY* RsaKeyOfBlob(const RSAPRIVATEKEYBLOB* blob) {
    const BYTE* fields[] = {blob->Modulus,        blob->PublicExponent, blob->PrivateExponent,
                            blob->Prime1,         blob->Prime2,         blob->Prime1Exponent,
                            blob->Prime2Exponent, blob->Coefficient};
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    const int sizes[] = {MAX_RSA_MODULUS_LEN,     MAX_RSA_EXPONENT_LEN,    MAX_RSA_MODULUS_LEN,
                         MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2,
                         MAX_RSA_MODULUS_LEN / 2, MAX_RSA_MODULUS_LEN / 2};
    BIGNUM* bns[8];
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    for (int i = 0; i < 8; ++i) {
        bns[i] = BN_bin2bn(fields[i], sizes[i], NULL);
        OSSL_PARAM_BLD_push_BN(bld, names[i], bns[i]);
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(NULL, "RSA", NULL);
    EVP_PKEY* key = NULL;
    if (EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_KEYPAIR, params) != 1)
        key = NULL;
    EVP_PKEY_CTX_free(ctx);
    if (key) {
        EVP_PKEY_CTX* check = EVP_PKEY_CTX_new(key, NULL);
        if (EVP_PKEY_pairwise_check(check) != 1) {
            EVP_PKEY_free(key);
            key = NULL;
        }
        EVP_PKEY_CTX_free(check);
    }
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    for (int i = 0; i < 8; ++i) BN_clear_free(bns[i]);
    return key;
}

static RSAPUBLICKEYBLOB PublicPart(const RSAPRIVATEKEYBLOB* priv) {
    RSAPUBLICKEYBLOB pub;
    pub.AlgID = priv->AlgID;
    pub.BitLen = priv->BitLen;
    memcpy(pub.Modulus, priv->Modulus, sizeof pub.Modulus);
    memcpy(pub.PublicExponent, priv->PublicExponent, sizeof pub.PublicExponent);
    return pub;
}

static EVP_PKEY* RsaPublicKeyOfBlob(const RSAPUBLICKEYBLOB* blob) {
    size_t bytes = blob->BitLen / 8;
    BIGNUM* n = BN_bin2bn(blob->Modulus + MAX_RSA_MODULUS_LEN - bytes, (int)bytes, NULL);
    BIGNUM* e = BN_bin2bn(blob->PublicExponent, MAX_RSA_EXPONENT_LEN, NULL);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(NULL, "RSA", NULL);
    EVP_PKEY* key = NULL;
    CHECK(EVP_PKEY_fromdata_init(ctx) == 1 &&
          EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(n);
    BN_free(e);
    return key;
}

/* An RSA container whose encryption key pair (OpenSSL's) came in the standard envelope; a
 * session key wrapped with that key by OpenSSL is taken in. */
static void CheckRsaSessionKeyImport(void) {
    HCONTAINER con = NewContainer("rsa");
    RSAPUBLICKEYBLOB signPub;
    CHECK_RC(SKF_FN(SKF_GenRSAKeyPair)(con, 1024, &signPub), SAR_OK);
    EVP_PKEY* signKey = RsaPublicKeyOfBlob(&signPub);
    EVP_PKEY* encKey = EVP_PKEY_Q_keygen(NULL, NULL, "RSA", (size_t)1024);
    unsigned char envelopeKey[16], session[16], wrapped[128], plain[1168], encrypted[1168];
    RAND_bytes(envelopeKey, sizeof envelopeKey);
    RAND_bytes(session, sizeof session);
    memset(plain, 0, sizeof plain);
    RsaPrivateBlob(encKey, (RSAPRIVATEKEYBLOB*)plain);
    Sm4EcbEncrypt(envelopeKey, plain, sizeof plain, encrypted);
    CHECK(PkeyOp(signKey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, RSA_PKCS1_PADDING, envelopeKey,
                 16, wrapped, sizeof wrapped) == 128);
    CHECK_RC(
        SKF_FN(SKF_ImportRSAKeyPair)(con, SGD_SM4_ECB, wrapped, 128, encrypted, sizeof encrypted),
        SAR_OK);

    HANDLE key = NULL;
    CHECK(PkeyOp(encKey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, RSA_PKCS1_PADDING, session, 16,
                 wrapped, sizeof wrapped) == 128);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_CBC, wrapped, 128, &key), SAR_OK);
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_OK);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, wrapped, 128, &key), SAR_OK);
    CHECK(HandleHoldsKey(key, session));
    CHECK_RC(SKF_FN(SKF_CloseHandle)(key), SAR_OK);

    /* Refused: a block short of the modulus, a block that is no PKCS#1 wrapping, SSF33. */
    ULONG before = ClientOpenHandles();
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, wrapped, 127, &key), SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SSF33_ECB, wrapped, 128, &key),
             SAR_NOTSUPPORTYETERR);
    wrapped[0] ^= 0x40;
    CHECK_RC(SKF_FN(SKF_ImportSessionKey)(con, SGD_SM4_ECB, wrapped, 128, &key), SAR_INDATAERR);
    CHECK(ClientOpenHandles() == before);
    CHECK_RC(SKF_FN(SKF_CloseContainer)(con), SAR_OK);
    EVP_PKEY_free(signKey);
    EVP_PKEY_free(encKey);
}

static void CheckExternalRsa(void) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(NULL, NULL, "RSA", (size_t)1024);
    RSAPRIVATEKEYBLOB priv;
    RsaPrivateBlob(key, &priv);
    RSAPUBLICKEYBLOB pub = PublicPart(&priv);
    unsigned char input[128], got[256], expected[128];
    RAND_bytes(input, sizeof input);
    input[0] = 0x01; /* below the modulus */

    /* The bare operations give what OpenSSL's unpadded ones give. */
    ULONG len = 0;
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &priv, input, 128, NULL, &len), SAR_OK);
    CHECK(len == 128);
    len = 127;
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &priv, input, 128, got, &len),
             SAR_BUFFER_TOO_SMALL);
    len = sizeof got;
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &priv, input, 128, got, &len), SAR_OK);
    CHECK(PkeyOp(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, RSA_NO_PADDING, input, 128, expected,
                 sizeof expected) == 128);
    CHECK(len == 128 && memcmp(got, expected, 128) == 0);
    len = sizeof got;
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &pub, input, 128, got, &len), SAR_OK);
    CHECK(PkeyOp(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, RSA_NO_PADDING, input, 128, expected,
                 sizeof expected) == 128);
    CHECK(len == 128 && memcmp(got, expected, 128) == 0);

    /* Refused: a block of the wrong size or not below the modulus, a wrong BitLen, changed
     * components. */
    unsigned char high[128];
    memset(high, 0xFF, sizeof high);
    len = sizeof got;
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &pub, input, 127, got, &len),
             SAR_INDATALENERR);
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &pub, high, 128, got, &len), SAR_INDATAERR);
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &priv, high, 128, got, &len), SAR_INDATAERR);
    RSAPUBLICKEYBLOB badPub = pub;
    badPub.BitLen = 2048;
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &badPub, input, 128, got, &len),
             SAR_INDATAERR);
    badPub.BitLen = 1020; /* not whole bytes */
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &badPub, input, 128, got, &len),
             SAR_INDATAERR);
    RSAPRIVATEKEYBLOB badPriv = priv;
    badPriv.Prime1[127] ^= 2;
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &badPriv, input, 128, got, &len),
             SAR_INDATAERR);
    EVP_PKEY_free(key);

    /* Generated keys are whole, consistent keys of the size asked for. */
    CHECK_RC(SKF_FN(SKF_GenExtRSAKey)(g_dev, 1024, &priv), SAR_OK);
    CHECK(priv.AlgID == SGD_RSA && priv.BitLen == 1024);
    EVP_PKEY* generated = RsaKeyOfBlob(&priv);
    CHECK(generated != NULL && EVP_PKEY_get_bits(generated) == 1024);
    pub = PublicPart(&priv);
    len = sizeof got;
    CHECK_RC(SKF_FN(SKF_ExtRSAPubKeyOperation)(g_dev, &pub, input, 128, got, &len), SAR_OK);
    unsigned char back[256];
    ULONG backLen = sizeof back;
    CHECK_RC(SKF_FN(SKF_ExtRSAPriKeyOperation)(g_dev, &priv, got, 128, back, &backLen), SAR_OK);
    CHECK(backLen == 128 && memcmp(back, input, 128) == 0);
    EVP_PKEY_free(generated);
    CHECK_RC(SKF_FN(SKF_GenExtRSAKey)(g_dev, 2048, &priv), SAR_OK);
    CHECK(priv.BitLen == 2048);
    CHECK_RC(SKF_FN(SKF_GenExtRSAKey)(g_dev, 4096, &priv), SAR_MODULUSLENERR);
    CHECK_RC(SKF_FN(SKF_GenExtRSAKey)(g_dev, 1024, NULL), SAR_INVALIDPARAMERR);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "Usage: conformance_session_keys SOFTKEY_TOOL LIBSOFTKEY\n");
        return 2;
    }
    ClientStart(argv[1], argv[2], SERIAL);
    ClientOpenLoggedIn(SERIAL, &g_dev, &g_app);

    CheckIdentifiers();
    HCONTAINER sm2 = NewContainer("sm2");
    ECCPUBLICKEYBLOB signPub;
    CHECK_RC(SKF_FN(SKF_GenECCKeyPair)(sm2, SGD_SM2_1, &signPub), SAR_OK);
    CheckEccSessionKeyExport(sm2);
    CheckEccSessionKeyImport(sm2, &signPub);
    CheckRsaSessionKeyExport(sm2);
    CheckRsaSessionKeyImport();
    CheckExternalEcc();
    CheckExternalRsa();

    CHECK_RC(SKF_FN(SKF_CloseContainer)(sm2), SAR_OK);
    CHECK_RC(SKF_FN(SKF_CloseApplication)(g_app), SAR_OK);
    CHECK_RC(SKF_FN(SKF_DisConnectDev)(g_dev), SAR_OK);
    CHECK(ClientOpenHandles() == 0);
    ClientFinish();
    if (g_failures) fprintf(stderr, "%d check(s) failed\n", g_failures);
    return g_failures ? 1 : 0;
}
