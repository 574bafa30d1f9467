// Key pairs on the key: generation, signatures and decryption checked with OpenSSL, and the
// enveloped imports of encryption key pairs built with OpenSSL.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "core/fs_util.h"
#include "core/envelopes.h"
#include "softkey_fixture.h"

using namespace softkey_test;
using softkey::Bytes;
using softkey::Pkey;

namespace {

char* Text(const char* s) { return const_cast<char*>(s); }
const char kId[] = "1234567812345678";

Bytes Sha256(const std::string& s) {
    Bytes d(32);
    unsigned len = 0;
    EVP_Digest(s.data(), s.size(), d.data(), &len, EVP_sha256(), nullptr);
    return d;
}

// OpenSSL's own SM2 verification of a message, with the identifier folded into Z.
bool OpenSslVerifySm2(EVP_PKEY* key, const std::string& msg, const ECCSIGNATUREBLOB& blob) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(blob.r + 32, 32, nullptr), BN_bin2bn(blob.s + 32, 32, nullptr));
    unsigned char* der = nullptr;
    int derLen = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, kId, 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
              EVP_DigestVerify(md, der, static_cast<size_t>(derLen),
                               reinterpret_cast<const unsigned char*>(msg.data()), msg.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    OPENSSL_free(der);
    return ok;
}

Bytes OpenSslEncrypt(EVP_PKEY* key, const Bytes& plain, int padding = -1) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_encrypt_init(ctx);
    if (padding >= 0) EVP_PKEY_CTX_set_rsa_padding(ctx, padding);
    size_t len = 0;
    EVP_PKEY_encrypt(ctx, nullptr, &len, plain.data(), plain.size());
    Bytes out(len);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx, out.data(), &len, plain.data(), plain.size()), 1);
    out.resize(len);
    EVP_PKEY_CTX_free(ctx);
    return out;
}

// An ECC cipher blob with room for the cipher bytes after its header.
Bytes CipherBlob(const softkey::Sm2Cipher& c) {
    Bytes blob(ECC_CIPHER_HEADER_LEN + c.cipher.size() + 1, 0);
    std::memcpy(&blob[offsetof(ECCCIPHERBLOB, XCoordinate) + 32], c.x, 32);
    std::memcpy(&blob[offsetof(ECCCIPHERBLOB, YCoordinate) + 32], c.y, 32);
    std::memcpy(&blob[offsetof(ECCCIPHERBLOB, HASH)], c.hash, 32);
    ULONG len = static_cast<ULONG>(c.cipher.size());
    std::memcpy(&blob[offsetof(ECCCIPHERBLOB, CipherLen)], &len, sizeof len);
    std::memcpy(&blob[ECC_CIPHER_HEADER_LEN], c.cipher.data(), c.cipher.size());
    return blob;
}

class KeyTest : public SoftkeyTest {
protected:
    void SetUp() override {
        SoftkeyTest::SetUp();
        AddKey("KEY1");
        OpenLoggedIn(Lib(), "KEY1", m_dev, m_app);
    }
    HCONTAINER NewContainer(const char* name) {
        HCONTAINER con = nullptr;
        EXPECT_EQ(SKF(Lib(), SKF_CreateContainer)(m_app, Text(name), &con), SAR_OK);
        return con;
    }
    DEVHANDLE m_dev = nullptr;
    HAPPLICATION m_app = nullptr;
};

TEST_F(KeyTest, Sm2SignatureWithIdentityDigestVerifiesInOpenSsl) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("SM2C");
    ECCPUBLICKEYBLOB pub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(con, SGD_SM2_1, &pub), SAR_OK);
    EXPECT_EQ(pub.BitLen, 256u);
    ULONG type = 0;
    ASSERT_EQ(SKF(lib, SKF_GetContainerType)(con, &type), SAR_OK);
    EXPECT_EQ(type, static_cast<ULONG>(CONTAINER_TYPE_ECC));

    const std::string msg = "签名的原文 document body";
    HANDLE hash = nullptr;
    ASSERT_EQ(SKF(lib, SKF_DigestInit)(m_dev, SGD_SM3, &pub, (unsigned char*)kId, 16, &hash), SAR_OK);
    BYTE digest[32];
    ULONG digestLen = sizeof digest;
    ASSERT_EQ(SKF(lib, SKF_Digest)(hash, (BYTE*)msg.data(), (ULONG)msg.size(), digest, &digestLen), SAR_OK);
    EXPECT_EQ(digestLen, 32u);
    SKF(lib, SKF_CloseHandle)(hash);

    ECCSIGNATUREBLOB sig;
    ASSERT_EQ(SKF(lib, SKF_ECCSignData)(con, digest, 32, &sig), SAR_OK);
    Pkey key = EccKey(pub);
    ASSERT_TRUE(key);
    EXPECT_TRUE(OpenSslVerifySm2(key.get(), msg, sig));
    EXPECT_FALSE(OpenSslVerifySm2(key.get(), msg + "x", sig));
    EXPECT_EQ(SKF(lib, SKF_ECCVerify)(m_dev, &pub, digest, 32, &sig), SAR_OK);
    digest[0] ^= 1;
    EXPECT_EQ(SKF(lib, SKF_ECCVerify)(m_dev, &pub, digest, 32, &sig), SAR_FAIL);
    EXPECT_EQ(SKF(lib, SKF_ECCSignData)(con, digest, 20, &sig), SAR_INDATALENERR);

    // The exported public key is the generated one.
    BYTE blob[200];
    ULONG blobLen = sizeof blob;
    ASSERT_EQ(SKF(lib, SKF_ExportPublicKey)(con, TRUE, blob, &blobLen), SAR_OK);
    ASSERT_EQ(blobLen, sizeof(ECCPUBLICKEYBLOB));
    EXPECT_EQ(std::memcmp(blob, &pub, sizeof pub), 0);
    blobLen = sizeof blob;
    EXPECT_EQ(SKF(lib, SKF_ExportPublicKey)(con, FALSE, blob, &blobLen), SAR_KEYNOTFOUNTERR);

    // Private-key operations need the user PIN.
    SKF(lib, SKF_ClearSecureState)(m_app);
    EXPECT_EQ(SKF(lib, SKF_ECCSignData)(con, digest, 32, &sig), SAR_USER_NOT_LOGIN);
}

TEST_F(KeyTest, RsaSignatureOfADigestInfoVerifiesInOpenSsl) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("RSAC");
    RSAPUBLICKEYBLOB pub;
    ASSERT_EQ(SKF(lib, SKF_GenRSAKeyPair)(con, 2048, &pub), SAR_OK);
    EXPECT_EQ(pub.BitLen, 2048u);
    EXPECT_EQ(SKF(lib, SKF_GenRSAKeyPair)(con, 3072, &pub), SAR_MODULUSLENERR);

    const std::string msg = "contract text";
    // DigestInfo of SHA-256 computed on the key, as a signer of PKCS#1 v1.5 builds it.
    HANDLE hash;
    ECCPUBLICKEYBLOB zero{};
    ASSERT_EQ(SKF(lib, SKF_DigestInit)(m_dev, SGD_SHA256, &zero, (unsigned char*)kId, 16, &hash), SAR_OK);
    BYTE digest[32];
    ULONG len = 32;
    ASSERT_EQ(SKF(lib, SKF_Digest)(hash, (BYTE*)msg.data(), (ULONG)msg.size(), digest, &len), SAR_OK);
    EXPECT_EQ(Bytes(digest, digest + 32), Sha256(msg));
    Bytes info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    info.insert(info.end(), digest, digest + 32);

    BYTE sig[512];
    ULONG sigLen = sizeof sig;
    ASSERT_EQ(SKF(lib, SKF_RSASignData)(con, info.data(), (ULONG)info.size(), sig, &sigLen), SAR_OK);
    EXPECT_EQ(sigLen, 256u);
    EXPECT_EQ(SKF(lib, SKF_RSAVerify)(m_dev, &pub, info.data(), (ULONG)info.size(), sig, sigLen), SAR_OK);

    Bytes n(pub.Modulus, pub.Modulus + 256), e(pub.PublicExponent, pub.PublicExponent + 4);
    Pkey key = softkey::RsaPublicFromParts(n, e);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ASSERT_EQ(EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key.get()), 1);
    EXPECT_EQ(EVP_DigestVerify(md, sig, sigLen, (const unsigned char*)msg.data(), msg.size()), 1);
    EVP_MD_CTX_free(md);

    ULONG small = 100;
    EXPECT_EQ(SKF(lib, SKF_RSASignData)(con, info.data(), (ULONG)info.size(), sig, &small), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small, 256u);
}

TEST_F(KeyTest, DataOpenSslEncryptedToTheKeyDecryptsOnIt) {
    SkfLibrary& lib = Lib();
    HCONTAINER sm2 = NewContainer("E1");
    ECCPUBLICKEYBLOB eccPub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(sm2, SGD_SM2_1, &eccPub), SAR_OK);
    Bytes secret = {'s', 'e', 'c', 'r', 'e', 't', 0, 1, 2, 3};
    softkey::Sm2Cipher cipher;
    ASSERT_TRUE(softkey::Sm2Encrypt(EccKey(eccPub).get(), secret.data(), secret.size(), cipher));
    Bytes blob = CipherBlob(cipher);
    BYTE plain[1024];
    ULONG plainLen = sizeof plain;
    ASSERT_EQ(SKF(lib, SKF_ECCDecrypt)(sm2, TRUE, (PECCCIPHERBLOB)blob.data(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
    blob[ECC_CIPHER_HEADER_LEN] ^= 0xFF;  // a damaged cipher fails its hash check
    plainLen = sizeof plain;
    EXPECT_NE(SKF(lib, SKF_ECCDecrypt)(sm2, TRUE, (PECCCIPHERBLOB)blob.data(), plain, &plainLen), SAR_OK);

    HCONTAINER rsa = NewContainer("E2");
    RSAPUBLICKEYBLOB rsaPub;
    ASSERT_EQ(SKF(lib, SKF_GenRSAKeyPair)(rsa, 1024, &rsaPub), SAR_OK);
    Bytes n(rsaPub.Modulus + 128, rsaPub.Modulus + 256), e(rsaPub.PublicExponent, rsaPub.PublicExponent + 4);
    Bytes encrypted = OpenSslEncrypt(softkey::RsaPublicFromParts(n, e).get(), secret, RSA_PKCS1_PADDING);
    plainLen = sizeof plain;
    ASSERT_EQ(SKF(lib, SKF_RSADecrypt)(rsa, TRUE, encrypted.data(), (ULONG)encrypted.size(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
    plainLen = 4;
    EXPECT_EQ(SKF(lib, SKF_RSADecrypt)(rsa, TRUE, encrypted.data(), (ULONG)encrypted.size(), plain, &plainLen),
              SAR_BUFFER_TOO_SMALL);
}

TEST_F(KeyTest, EnvelopedSm2KeyPairImportDecryptsAfterwards) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("ENV");
    ECCPUBLICKEYBLOB signPub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(con, SGD_SM2_1, &signPub), SAR_OK);

    // The certification authority's side: a fresh encryption key pair, wrapped for this key.
    Bytes spki;
    Bytes pkcs8 = softkey::GenerateKeyPair(softkey::KeyAlg::Sm2, 256, spki);
    Pkey encKey = softkey::LoadPrivateKey(pkcs8);
    Bytes envelope = softkey::Sm2Envelope(EccKey(signPub).get(), encKey.get());
    auto* env = reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data());

    // A public key that does not match the private key is refused.
    Bytes wrong = envelope;
    reinterpret_cast<ENVELOPEDKEYBLOB*>(wrong.data())->PubKey.XCoordinate[63] ^= 1;
    EXPECT_EQ(SKF(lib, SKF_ImportECCKeyPair)(con, (PENVELOPEDKEYBLOB)wrong.data()), SAR_INDATAERR);
    ASSERT_EQ(SKF(lib, SKF_ImportECCKeyPair)(con, env), SAR_OK);

    BYTE blob[200];
    ULONG blobLen = sizeof blob;
    ASSERT_EQ(SKF(lib, SKF_ExportPublicKey)(con, FALSE, blob, &blobLen), SAR_OK);
    EXPECT_EQ(std::memcmp(blob, &env->PubKey, sizeof(ECCPUBLICKEYBLOB)), 0);

    Bytes secret = {'e', 'n', 'v', 'e', 'l', 'o', 'p', 'e'};
    softkey::Sm2Cipher c;
    ASSERT_TRUE(softkey::Sm2Encrypt(encKey.get(), secret.data(), secret.size(), c));
    Bytes msg = CipherBlob(c);
    BYTE plain[1024];
    ULONG plainLen = sizeof plain;
    ASSERT_EQ(SKF(lib, SKF_ECCDecrypt)(con, FALSE, (PECCCIPHERBLOB)msg.data(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
}

TEST_F(KeyTest, EnvelopedRsaKeyPairImportDecryptsAfterwards) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("ENVR");
    RSAPUBLICKEYBLOB signPub;
    ASSERT_EQ(SKF(lib, SKF_GenRSAKeyPair)(con, 2048, &signPub), SAR_OK);
    Pkey signKey = softkey::RsaPublicFromParts(Bytes(signPub.Modulus, signPub.Modulus + 256),
                                               Bytes(signPub.PublicExponent, signPub.PublicExponent + 4));

    Bytes spki;
    Pkey encKey = softkey::LoadPrivateKey(softkey::GenerateKeyPair(softkey::KeyAlg::Rsa, 2048, spki));
    Bytes padded = softkey::RsaPrivateKeyBlob(encKey.get());
    uint8_t session[16];
    RAND_bytes(session, 16);
    Bytes encrypted;
    ASSERT_TRUE(softkey::Sm4EcbEncrypt(session, padded.data(), padded.size(), encrypted));
    Bytes wrappedKey = OpenSslEncrypt(signKey.get(), Bytes(session, session + 16), RSA_PKCS1_PADDING);
    ASSERT_EQ(wrappedKey.size(), 256u);

    // The same import with a damaged private key blob must not store an unusable key.
    Bytes damaged = padded;
    damaged[8 + 256 + 4] ^= 0x55;  // private exponent
    Bytes damagedEnc;
    softkey::Sm4EcbEncrypt(session, damaged.data(), damaged.size(), damagedEnc);
    EXPECT_EQ(SKF(lib, SKF_ImportRSAKeyPair)(con, SGD_SM4_ECB, wrappedKey.data(), 256, damagedEnc.data(),
                                             (ULONG)damagedEnc.size()),
              SAR_INDATAERR);
    ASSERT_EQ(SKF(lib, SKF_ImportRSAKeyPair)(con, SGD_SM4_ECB, wrappedKey.data(), 256, encrypted.data(),
                                             (ULONG)encrypted.size()),
              SAR_OK);

    Bytes secret = {'r', 's', 'a', '!', 0};
    Bytes cipher = OpenSslEncrypt(encKey.get(), secret, RSA_PKCS1_PADDING);
    BYTE plain[1024];
    ULONG plainLen = sizeof plain;
    ASSERT_EQ(SKF(lib, SKF_RSADecrypt)(con, FALSE, cipher.data(), (ULONG)cipher.size(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
}

TEST_F(KeyTest, CertificatesAndPrivateKeysAtRest) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("CERT");
    ECCPUBLICKEYBLOB pub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(con, SGD_SM2_1, &pub), SAR_OK);
    BYTE cert[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    BYTE out[10240];
    ULONG len = sizeof out;
    EXPECT_EQ(SKF(lib, SKF_ExportCertificate)(con, TRUE, out, &len), SAR_CERTNOTFOUNTERR);
    ASSERT_EQ(SKF(lib, SKF_ImportCertificate)(con, TRUE, cert, sizeof cert), SAR_OK);
    len = 0;
    ASSERT_EQ(SKF(lib, SKF_ExportCertificate)(con, TRUE, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, sizeof cert);
    len = sizeof out;
    ASSERT_EQ(SKF(lib, SKF_ExportCertificate)(con, TRUE, out, &len), SAR_OK);
    EXPECT_EQ(Bytes(out, out + len), Bytes(cert, cert + sizeof cert));
    len = sizeof out;
    EXPECT_EQ(SKF(lib, SKF_ExportCertificate)(con, FALSE, out, &len), SAR_CERTNOTFOUNTERR);

    // The stored private key is sealed: it does not parse as a key, and a changed byte is caught.
    softkey::Token t = m_store->Load("KEY1");
    softkey::KeyPair& pair = *t.apps[0].containers[0].signKey;
    EXPECT_FALSE(softkey::LoadPrivateKey(pair.sealedPrivate));
    std::string text;
    ASSERT_TRUE(softkey::ReadWholeFile(m_store->TokenPath("KEY1"), text));
    EXPECT_EQ(text.find("BEGIN"), std::string::npos);
    pair.sealedPrivate[20] ^= 1;
    m_store->Save(t);
    BYTE digest[32] = {1};
    ECCSIGNATUREBLOB sig;
    EXPECT_EQ(SKF(lib, SKF_ECCSignData)(con, digest, 32, &sig), SAR_FAIL);
}

TEST_F(KeyTest, ThreadsSigningAtOnceAllGetValidSignatures) {
    SkfLibrary& lib = Lib();
    HCONTAINER con = NewContainer("MT");
    ECCPUBLICKEYBLOB pub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(con, SGD_SM2_1, &pub), SAR_OK);
    Pkey key = EccKey(pub);
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::string msg = "thread " + std::to_string(t) + " message " + std::to_string(i);
                HANDLE hash;
                BYTE digest[32];
                ULONG len = 32;
                ECCSIGNATUREBLOB sig;
                if (SKF(lib, SKF_DigestInit)(m_dev, SGD_SM3, &pub, (unsigned char*)kId, 16, &hash) ||
                    SKF(lib, SKF_Digest)(hash, (BYTE*)msg.data(), (ULONG)msg.size(), digest, &len) ||
                    SKF(lib, SKF_ECCSignData)(con, digest, 32, &sig))
                    continue;
                SKF(lib, SKF_CloseHandle)(hash);
                if (OpenSslVerifySm2(key.get(), msg, sig)) ++good[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good, std::vector<int>(4, 10));
}

}  // namespace
