// Decryption and private-key operations on software keys, checked against OpenSSL: ciphertexts
// OpenSSL made decrypt on the key, and what the exports produce opens or verifies with OpenSSL.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "api/encodings.h"
#include "cert_factory.h"
#include "core/envelopes.h"
#include "devices/key_manager.h"
#include "key_rig.h"
#include "sm2_cipher_text.h"
#include "tessal/cert_requests.h"
#include "tessal/data_protection.h"
#include "tessal/devices.h"
#include "test_support.h"
#include "token/skf_ukey.h"

using namespace test_support;

namespace {

const std::string kSerial = "DP1";
const std::string kContainer = "Pair";

std::string Text(const ByteArray& bytes) { return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.length()); }
ByteArray Bytes(const std::string& text) { return ByteArray(text.data(), static_cast<int>(text.size())); }

class KeyDecryptionTest : public KeyRigTest {
protected:
    void TearDown() override {
        EVP_PKEY_free(m_ca);
        EVP_PKEY_free(m_encKey);
        KeyRigTest::TearDown();
    }

    // A key whose one container holds a signing key pair of `kind` ("sm2" or "rsa2048") with its
    // certificate and an encryption key pair (made here, so the test knows its private key)
    // imported in an envelope the way a certification authority sends it; PIN verified. Callers
    // wrap it in ASSERT_NO_FATAL_FAILURE.
    void UseKeyWithEncryptionPair(const std::string& kind) {
        InstallDriver("SKF_APP.dll");
        AddKey(kSerial, "1D99&0001");
        Softkey("container create " + kSerial + " " + kContainer + " " + kind);
        ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1) << ZYKGetLastError();
        bool sm2 = kind == "sm2";
        m_ca = sm2 ? NewSm2Key() : NewRsaKey(2048);  // the signature algorithm tells the key's kind
        EVP_PKEY* signPub = ContainerPublicKey(kSerial, kContainer);
        ASSERT_NE(signPub, nullptr);
        m_encKey = sm2 ? NewSm2Key() : NewRsaKey(2048);
        softkey::Bytes envelope = sm2 ? softkey::Sm2Envelope(signPub, m_encKey) : softkey::RsaEnvelope(signPub, m_encKey);
        CertSpec spec;
        spec.subjectCN = "Holder sign";
        X509* sign = MakeCertificate(spec, signPub, m_ca);
        spec.subjectCN = "Holder enc";
        spec.serial = {0x02};
        X509* enc = MakeCertificate(spec, m_encKey, m_ca);
        m_signCert = Base64Encode(Der(sign));
        m_encCert = Base64Encode(Der(enc));
        m_encCertPem = m_dir + "/enc.pem";
        WriteText(m_encCertPem, Pem(enc));
        X509_free(sign);
        X509_free(enc);
        EVP_PKEY_free(signPub);
        std::string envelopeText =
            Base64Encode(ByteArray(envelope.data(), static_cast<unsigned long>(envelope.size())));
        std::string encCert = m_encCert;
        if (sm2)
            ASSERT_TRUE(ZYKImportSM2DoubleCert(m_signCert, encCert, envelopeText)) << ZYKGetLastError();
        else
            ASSERT_TRUE(ZYKImportDoubleCertFromWEB(m_signCert, encCert, envelopeText, kContainer)) << ZYKGetLastError();
    }
    SkfUKey* Key() { return dynamic_cast<SkfUKey*>(UKeyManager::GetInstance().GetCurrentUKey().get()); }
    // What `openssl pkeyutl` prints into a file, read back.
    std::string Pkeyutl(const std::string& options, const std::string& input) {
        std::string in = m_dir + "/pkeyutl.in", out = m_dir + "/pkeyutl.out";
        WriteText(in, input);
        std::string command = "openssl pkeyutl " + options + " -in " + in + " -out " + out + " 2>/dev/null";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return ReadFile(out);
    }
    std::string EncKeyPem() {
        std::string path = m_dir + "/enc.key";
        BIO* bio = BIO_new_file(path.c_str(), "w");
        PEM_write_bio_PrivateKey(bio, m_encKey, nullptr, nullptr, 0, nullptr, nullptr);
        BIO_free(bio);
        return path;
    }
    void ExpectLastError(int code) {
        EXPECT_EQ(ZYKGetLastError(), "未定义的错误，错误码:" + std::to_string(code));
    }

    EVP_PKEY* m_ca = nullptr;
    EVP_PKEY* m_encKey = nullptr;
    std::string m_signCert, m_encCert, m_encCertPem;
};

TEST_F(KeyDecryptionTest, Sm2CiphertextsFromOpenSslDecryptOnTheKey) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("sm2"));
    const std::string secret = std::string("sm2 secret\0with a zero byte", 27);
    // x written in 31 bytes (leading zero dropped), 32 bytes, and 33 (a sign byte before a high bit).
    for (int xBytes : {31, 32, 33}) {
        ByteArray der = Sm2EncryptDerWithX(m_encKey, secret, xBytes);
        ASSERT_GT(der.length(), 0) << xBytes;
        std::string plain;
        ASSERT_TRUE(ZYKDecDataPriKey(Base64Encode(der), plain)) << ZYKGetLastError();
        EXPECT_EQ(plain, secret) << "DER, raw bytes out; x of " << xBytes;
        std::string cipher = Base64Encode(Sm2DerToRaw(der));
        std::string encoded = Base64Encode(Bytes("replaced by the plaintext"));
        ASSERT_TRUE(ZYKEccDeCrypt(cipher, encoded)) << ZYKGetLastError();
        EXPECT_EQ(Text(Base64Decode(encoded)), secret) << "raw layout, Base64 out; x of " << xBytes;
    }
}

TEST_F(KeyDecryptionTest, MalformedSm2CiphertextsFailWith45BeforeTheDriver) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("sm2"));
    ByteArray der = Sm2EncryptDerWithX(m_encKey, "payload", 32);
    ByteArray raw = Sm2DerToRaw(der);
    ASSERT_GT(raw.length(), 96);
    // The driver's next decryption fails: a malformed ciphertext that reached it would use that up.
    Softkey("fault " + kSerial + " SKF_ECCDecrypt 0x0A000001 --count 1");

    auto derWith = [&](const std::string& x, const std::string& hash, const std::string& cipher,
                       const std::string& trailer = "") {
        auto field = [](unsigned char tag, const std::string& content) {
            return std::string(1, static_cast<char>(tag)) + static_cast<char>(content.size()) + content;
        };
        std::string y(32, '\x11');
        std::string body = field(0x02, x) + field(0x02, y) + field(0x04, hash) + field(0x04, cipher);
        std::string sequence = "\x30\x81" + std::string(1, static_cast<char>(body.size())) + body + trailer;
        return Bytes(sequence);
    };
    const std::string x32(32, '\x22'), hash(32, '\x33'), cipher = "abcdefg";
    std::vector<ByteArray> malformed = {
        derWith(std::string(1, '\x01') + x32, hash, cipher),  // x of 33 significant bytes
        derWith(x32, std::string(31, '\x33'), cipher),        // a 31-byte hash
        derWith(x32, std::string(33, '\x33'), cipher),        // a 33-byte hash
        derWith(x32, hash, cipher, "extra"),                  // bytes after the structure
        derWith(x32, hash, ""),                               // no cipher bytes
        Bytes(std::string(120, '\x30')),                      // not DER at all
    };
    ByteArray out;
    for (size_t i = 0; i < malformed.size(); ++i)
        EXPECT_EQ(Key()->EccDeCryptWithFormat(malformed[i], out).ErrorCode(), 45) << i;
    // Cut short: the DER ciphertext loses its last bytes, the raw one keeps only C1 and C3.
    ByteArray cut(der.data(), static_cast<unsigned long>(der.length() - 3));
    EXPECT_EQ(Key()->EccDeCryptWithFormat(cut, out).ErrorCode(), 45);
    ByteArray header(raw.data(), 96ul);
    EXPECT_EQ(Key()->EccDeCrypt(header, out).ErrorCode(), 45);
    std::string headerText = Base64Encode(header), plain;
    EXPECT_FALSE(ZYKEccDeCrypt(headerText, plain));
    ExpectLastError(45);

    // The fault is still there for the first well-formed ciphertext, then decryption works.
    EXPECT_EQ(Key()->EccDeCrypt(raw, out).ErrorCode(), 46);
    ASSERT_EQ(Key()->EccDeCrypt(raw, out).ErrorCode(), 0);
    EXPECT_EQ(Text(out), "payload");
}

TEST_F(KeyDecryptionTest, WhatTheKeyCannotDecryptFailsWith46) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("sm2"));
    ByteArray out;
    // Longer than the 1024-byte plaintext buffer.
    ByteArray longer = Sm2DerToRaw(Sm2EncryptDer(m_encKey, std::string(1100, 'L')));
    EXPECT_EQ(Key()->EccDeCrypt(longer, out).ErrorCode(), 46);
    // Damaged: the SM3 value no longer matches.
    ByteArray der = Sm2EncryptDer(m_encKey, "payload");
    std::string damaged = Text(Sm2DerToRaw(der));
    damaged[70] ^= 0x01;
    std::string cipher = Base64Encode(Bytes(damaged)), plain;
    EXPECT_FALSE(ZYKEccDeCrypt(cipher, plain));
    ExpectLastError(46);
    // Encrypted to another key.
    EVP_PKEY* other = NewSm2Key();
    ByteArray foreign = Sm2EncryptDer(other, "payload");
    EVP_PKEY_free(other);
    EXPECT_FALSE(ZYKDecDataPriKey(Base64Encode(foreign), plain));
    ExpectLastError(46);
}

TEST_F(KeyDecryptionTest, RsaCiphertextsFromOpenSslDecryptOnTheKey) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("rsa2048"));
    const std::string secret = std::string("rsa secret\0\xff raw", 16);
    std::string cipher = Pkeyutl("-encrypt -certin -inkey " + m_encCertPem, secret);
    ASSERT_EQ(cipher.size(), 256u);
    std::string plain;
    ASSERT_TRUE(ZYKDecDataPriKey(Base64Encode(Bytes(cipher)), plain)) << ZYKGetLastError();
    EXPECT_EQ(plain, secret);  // raw bytes, not Base64

    // A ciphertext of the wrong size: the driver refuses it, reported with code 1.
    EXPECT_FALSE(ZYKDecDataPriKey(Base64Encode(Bytes(cipher.substr(1))), plain));
    EXPECT_EQ(ZYKGetLastError(), "私钥加密数据失败");
}

TEST_F(KeyDecryptionTest, PublicKeyEncryptionOpensWithOpenSslAndOnTheKey) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("rsa2048"));
    const std::string secret = "for the holder's encryption key";
    std::string cipher;
    ASSERT_TRUE(ZYKEncDataPubKey(secret, m_encCert, cipher));
    EXPECT_EQ(Pkeyutl("-decrypt -inkey " + EncKeyPem(), Text(Base64Decode(cipher))), secret);
    std::string plain;
    ASSERT_TRUE(ZYKDecDataPriKey(cipher, plain)) << ZYKGetLastError();
    EXPECT_EQ(plain, secret);

    // Too long for PKCS#1 v1.5 with a 2048-bit key, an SM2 certificate, no certificate at all.
    std::string untouched = "untouched";
    EXPECT_FALSE(ZYKEncDataPubKey(std::string(246, 'x'), m_encCert, untouched));
    EVP_PKEY* sm2 = NewSm2Key();
    X509* sm2Cert = MakeCertificate(CertSpec(), sm2, sm2);
    EXPECT_FALSE(ZYKEncDataPubKey(secret, Base64Encode(Der(sm2Cert)), untouched));
    EXPECT_FALSE(ZYKEncDataPubKey(secret, "bm90IGEgY2VydGlmaWNhdGU=", untouched));
    EXPECT_EQ(untouched, "untouched");
    X509_free(sm2Cert);
    EVP_PKEY_free(sm2);
}

TEST_F(KeyDecryptionTest, PrivateKeyOperationVerifiesAsARawRsaSignature) {
    ASSERT_NO_FATAL_FAILURE(UseKeyWithEncryptionPair("rsa2048"));
    const std::string block = "a block to be signed raw";
    std::string data = Base64Encode(Bytes(block)), result;
    ASSERT_TRUE(ZYKEncryptDataByPrivKey(data, result)) << ZYKGetLastError();
    ByteArray signature = Base64Decode(result);
    ASSERT_EQ(signature.length(), 256);
    EVP_PKEY* signPub = ContainerPublicKey(kSerial, kContainer);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(signPub, nullptr);
    ASSERT_EQ(EVP_PKEY_verify_init(ctx), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
    EXPECT_EQ(EVP_PKEY_verify(ctx, signature.data(), signature.length(),
                              reinterpret_cast<const unsigned char*>(block.data()), block.size()),
              1);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(signPub);
}

TEST_F(KeyDecryptionTest, GeneratedKeysHaveTheirSizeAndTheKeysPublicKey) {
    std::string a, b;
    ASSERT_TRUE(ZYKGenRandomKey(a));
    ASSERT_TRUE(ZYKGenRandomKey(b));
    EXPECT_EQ(Base64Decode(a).length(), 16);
    EXPECT_NE(a, b);

    InstallDriver("SKF_APP.dll");
    AddKey(kSerial, "1D99&0001");
    Softkey("container create " + kSerial + " Init rsa2048");
    std::string x, y;
    EXPECT_FALSE(ZYKGenECCKeyPair(x, y));  // the PIN is not verified yet
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1);
    ASSERT_TRUE(ZYKGenECCKeyPair(x, y)) << ZYKGetLastError();
    ByteArray xBytes = Base64Decode(x), yBytes = Base64Decode(y);
    ASSERT_EQ(xBytes.length(), 32);
    ASSERT_EQ(yBytes.length(), 32);
    EVP_PKEY* pub = ContainerPublicKey(kSerial, "CntSM2256");
    ASSERT_NE(pub, nullptr);
    unsigned char point[65];
    size_t length = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(pub, "encoded-pub-key", point, sizeof point, &length), 1);
    ASSERT_EQ(length, 65u);
    EXPECT_EQ(Text(ByteArray(point + 1, 32ul)), Text(xBytes));
    EXPECT_EQ(Text(ByteArray(point + 33, 32ul)), Text(yBytes));
    EVP_PKEY_free(pub);
}

TEST_F(KeyDecryptionTest, DecryptingExportsNeedAKeyAndItsPin) {
    std::string cipher = "AAAA", plain;
    EXPECT_FALSE(ZYKEccDeCrypt(cipher, plain));
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    InstallDriver("SKF_APP.dll");
    AddKey(kSerial, "1D99&0001");
    UKeyManager::GetInstance().RebuildKeySet();
    EXPECT_FALSE(ZYKDecDataPriKey(cipher, plain));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_FALSE(ZYKEncryptDataByPrivKey(cipher, plain));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
}

// A vendor library without the decryption extensions leaves them unresolved: the operations
// fail with their codes instead of calling through a null pointer.
TEST_F(KeyDecryptionTest, ALibraryWithoutTheDecryptionExtensionsFailsWithTheCodes) {
    InstallDriver("SKF_APP.dll", SOFTKEY_WITHOUT_DECRYPT_LIBRARY);
    AddKey(kSerial, "1D99&0001");
    Softkey("container create " + kSerial + " " + kContainer + " sm2");
    ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1) << ZYKGetLastError();
    EVP_PKEY* sm2 = ContainerPublicKey(kSerial, kContainer);
    ByteArray der = Sm2EncryptDer(sm2, "payload");
    EVP_PKEY_free(sm2);
    ByteArray raw = Sm2DerToRaw(der), out;
    EXPECT_EQ(Key()->EccDeCrypt(raw, out).ErrorCode(), 46);
    EXPECT_EQ(Key()->EccDeCryptWithFormat(der, out).ErrorCode(), 46);
    ByteArray rsaBlock(std::string(256, '\x01').data(), 256);
    EXPECT_EQ(Key()->DecryptRSAData(rsaBlock, out, 0).ErrorCode(), 1);
    std::string cipher = Base64Encode(raw), plain;
    EXPECT_FALSE(ZYKEccDeCrypt(cipher, plain));
    ExpectLastError(46);
    EXPECT_GE(LogCount("does not provide SKF_ECCDecrypt"), 1u);
}

}  // namespace
