// Containers, key pairs and certificates on a software key, and the certificate exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstddef>
#include <cstring>

#include "api/encodings.h"
#include "cert_factory.h"
#include "core/softcrypto.h"
#include "core/envelopes.h"
#include "key_rig.h"
#include "tessal/cert_info.h"
#include "tessal/certificates.h"
#include "tessal/devices.h"
#include "tessal/result.h"
#include "token/skf_ukey.h"

using namespace test_support;
using softkey::Bytes;

namespace {

const std::string kBuiltin = TESSAL_BUILTIN_CERTS_DIR;
char* Text(const char* s) { return const_cast<char*>(s); }

class KeyCertificateTest : public KeyRigTest {
protected:
    void SetUp() override {
        KeyRigTest::SetUp();
        InstallDriver("SKF_APP.dll");
        m_ca = LoadPemKey(kBuiltin + "/test-only-keys/dev-standin-sheca-g2.key");
    }
    void TearDown() override { EVP_PKEY_free(m_ca); }

    EVP_PKEY* PublicKeyOf(const std::string& serial, const std::string& container) {
        return ContainerPublicKey(serial, container);
    }
    // Issues a certificate under "SHECA G2" for a container's signing key and stores it on the
    // key as its `usage` ("sign" or "enc") certificate.
    std::string IssueOnKey(const std::string& serial, const std::string& container, const std::string& cn,
                           const char* usage = "sign") {
        CertSpec spec;
        spec.subjectCN = cn;
        spec.issuerC = "CN";
        spec.issuerO = "UniTrust";
        spec.issuerCN = "SHECA G2";
        return KeyRigTest::IssueOnKey(serial, container, spec, m_ca, usage);
    }
    ByteArray IssueFor(EVP_PKEY* key, const std::string& cn) {
        CertSpec spec;
        spec.subjectCN = cn;
        X509* cert = MakeCertificate(spec, key, m_ca);
        ByteArray der = Der(cert);
        X509_free(cert);
        return der;
    }
    EVP_PKEY* m_ca = nullptr;
};

// A second session on the same driver, to check what the key can do after an import.
struct DriverSession {
    explicit DriverSession(const std::string& path) { lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
    ~DriverSession() {
        if (lib) dlclose(lib);
    }
    template <typename F>
    F* Fn(const char* name) {
        return reinterpret_cast<F*>(dlsym(lib, name));
    }
    HCONTAINER Open(const char* serial, const char* container) {
        DEVHANDLE dev;
        HAPPLICATION app;
        HCONTAINER con = nullptr;
        ULONG retry;
        if (Fn<decltype(SKF_ConnectDev)>("SKF_ConnectDev")(Text(serial), &dev) ||
            Fn<decltype(SKF_OpenApplication)>("SKF_OpenApplication")(dev, Text("DEFAULT_APP"), &app) ||
            Fn<decltype(SKF_VerifyPIN)>("SKF_VerifyPIN")(app, USER_TYPE, Text("12345678"), &retry) ||
            Fn<decltype(SKF_OpenContainer)>("SKF_OpenContainer")(app, Text(container), &con))
            return nullptr;
        return con;
    }
    void* lib = nullptr;
};

TEST_F(KeyCertificateTest, SigningCertificateComesFromTheFirstContainerHoldingOne) {
    AddKey("C1", "1D99&0001");
    Softkey("container create C1 Empty sm2");
    Softkey("container create C1 Signer rsa2048");
    std::string b64 = IssueOnKey("C1", "Signer", "张三 Signer");
    // The encryption certificate of the container in use shows which container that is.
    IssueOnKey("C1", "Signer", "Encryption", "enc");
    Softkey("container create C1 Later rsa2048");
    IssueOnKey("C1", "Later", "Later");
    Softkey("unplug C1");
    Softkey("plug C1");

    std::string cert;
    ASSERT_TRUE(ZYKGetCertData(cert));  // no PIN needed
    EXPECT_EQ(cert, b64);
    EXPECT_FALSE(ZYKCurrentCertIsSM2());
    std::string encCert = "ignored";
    ASSERT_TRUE(ZYKGetEncCertData(encCert));
    EXPECT_EQ(CertInfo(Base64Decode(encCert)).getCN(), "Encryption");

    std::string id, cn, c, o, sn, start, end, alg, icn, ic, il, ist, io, iou, iemail;
    ASSERT_TRUE(ZYKGetCertInfo(id, cn, c, o, sn, start, end, alg, icn, ic, il, ist, io, iou, iemail, "", ""));
    EXPECT_EQ(id, "C1");
    EXPECT_EQ(cn, "张三 Signer");
    EXPECT_EQ(sn, "01");
    EXPECT_EQ(alg, "sha256RSA");
    EXPECT_EQ(icn, "SHECA G2");
    EXPECT_EQ(io, "UniTrust");
    EXPECT_EQ(ZYKGetCertDetail(cert, 17), "张三 Signer");
    EXPECT_THROW(ZYKGetCertDetail(cert, 15), std::out_of_range);
}

TEST_F(KeyCertificateTest, Sm2CertificatesAreRecognisedAndMissingOnesReported) {
    AddKey("S2", "1D99&0001");
    Softkey("container create S2 CntSM2256 sm2");
    std::string id, x;
    EXPECT_FALSE(ZYKGetCertInfo(id, x, x, x, x, x, x, x, x, x, x, x, x, x, x, "", ""));
    EXPECT_EQ(ZYKGetLastError(), "该容器无证书");
    EXPECT_EQ(id, "");

    EVP_PKEY* pub = PublicKeyOf("S2", "CntSM2256");
    EVP_PKEY* sm2Ca = LoadPemKey(kBuiltin + "/test-only-keys/tamper-ca-sm2.key");
    CertSpec spec;
    spec.subjectCN = "SM2 holder";
    X509* cert = MakeCertificate(spec, pub, sm2Ca);
    WriteText(m_dir + "/sm2.pem", Pem(cert));
    Softkey("cert import S2 CntSM2256 sign " + m_dir + "/sm2.pem");
    X509_free(cert);
    EVP_PKEY_free(pub);
    EVP_PKEY_free(sm2Ca);
    std::string got;
    ASSERT_TRUE(ZYKGetCertData(got));
    EXPECT_TRUE(ZYKCurrentCertIsSM2());
}

TEST_F(KeyCertificateTest, ContainersAndKeyGeneration) {
    AddKey("G1", "1D99&0001");
    Softkey("container create G1 A sm2");
    IssueOnKey("G1", "A", "holder");
    Softkey("container create G1 Existing sm2");
    SkfUKey key("SKF_APP.dll");
    ASSERT_TRUE(key.IsOpened());
    int retry = 0;
    ASSERT_EQ(key.VerifyPin("12345678", retry).ErrorCode(), 0);

    RSAPUBLICKEYBLOB rsa;
    ECCPUBLICKEYBLOB ecc;
    EXPECT_EQ(key.GenKeyPair(3072, &rsa).ErrorCode(), 4);  // refused before the driver is asked
    EXPECT_EQ(key.GenSM2KeyPair(255, &ecc).ErrorCode(), 4);

    // An existing name: code 30, and that container stays in use, so generation replaces its key.
    EVP_PKEY* before = PublicKeyOf("G1", "Existing");
    EXPECT_EQ(key.CreateContainer("Existing").ErrorCode(), 30);
    EXPECT_EQ(ZYKGetLastError(), "该容器已申请过证书");
    ASSERT_EQ(key.GenSM2KeyPair(256, &ecc).ErrorCode(), 0);
    EVP_PKEY* after = PublicKeyOf("G1", "Existing");
    EXPECT_NE(EVP_PKEY_eq(before, after), 1);
    EVP_PKEY_free(before);
    EVP_PKEY_free(after);

    ASSERT_EQ(key.CreateContainer("Fresh").ErrorCode(), 0);
    ASSERT_EQ(key.GenKeyPair(2048, &rsa).ErrorCode(), 0);
    EXPECT_EQ(rsa.BitLen, 2048u);
    EXPECT_EQ(key.DeleteContainer("Fresh").ErrorCode(), 0);
    EXPECT_EQ(key.DeleteContainer("Fresh").ErrorCode(), 28);
}

TEST_F(KeyCertificateTest, DeleteEmptyContainerStopsAtAnSm2RequestContainer) {
    AddKey("D1", "1D99&0001");
    Softkey("container create D1 A sm2");
    Softkey("container create D1 CntSM2256 sm2");
    IssueOnKey("D1", "CntSM2256", "requested");
    Softkey("container create D1 B sm2");
    SkfUKey key("SKF_APP.dll");
    ASSERT_TRUE(key.IsOpened());
    EXPECT_EQ(key.DeleteEmptyContainer().ErrorCode(), 58);
    EXPECT_EQ(ZYKGetLastError(), "已申请过SM2证书");
    SkfUKey reopened("SKF_APP.dll");  // "A" is gone, "B" was never reached
    ASSERT_TRUE(reopened.IsOpened());
    EXPECT_EQ(reopened.GetContainerNames(), (std::vector<std::string>{"CntSM2256", "B"}));
}

TEST_F(KeyCertificateTest, ImportIntoTheFirstContainerWhenNoNameIsGiven) {
    AddKey("I1", "1D99&0001");
    Softkey("container create I1 First rsa2048");
    Softkey("container create I1 Second rsa2048");
    SkfUKey key("SKF_APP.dll");
    int retry;
    ASSERT_EQ(key.VerifyPin("12345678", retry).ErrorCode(), 0);
    EVP_PKEY* pub = PublicKeyOf("I1", "First");
    std::string name;
    ASSERT_EQ(key.ImportCertWithCntName(IssueFor(pub, "imported"), name).ErrorCode(), 0);
    EXPECT_EQ(name, "First");
    ASSERT_EQ(key.GetCertData().ErrorCode(), 0);
    EXPECT_EQ(key.GetSignCertInfo()->getCN(), "imported");
    std::string missing = "NoSuch";
    EXPECT_EQ(key.ImportCertWithCntName(IssueFor(pub, "x"), missing).ErrorCode(), 15);
    EVP_PKEY_free(pub);
}

TEST_F(KeyCertificateTest, DoubleImportsLeaveAWorkingEncryptionKey) {
    AddKey("E1", "1D99&0001");
    Softkey("container create E1 SM2C sm2");
    Softkey("container create E1 RSAC rsa2048");
    SkfUKey key("SKF_APP.dll");
    int retry;
    ASSERT_EQ(key.VerifyPin("12345678", retry).ErrorCode(), 0);

    // SM2: an enveloped key blob as a certification authority builds it.
    EVP_PKEY* signPub = PublicKeyOf("E1", "SM2C");
    Bytes spki;
    softkey::Pkey enc = softkey::LoadPrivateKey(softkey::GenerateKeyPair(softkey::KeyAlg::Sm2, 256, spki));
    Bytes envelope = softkey::Sm2Envelope(signPub, enc.get());

    EXPECT_EQ(key.ImportDoubleCert(IssueFor(signPub, "s"), IssueFor(enc.get(), "e"),
                                   ByteArray("short", 5))
                  .ErrorCode(),
              29);
    std::string sm2Name = "SM2C";
    ASSERT_EQ(key.ImportCertWithCntName(IssueFor(signPub, "s"), sm2Name).ErrorCode(), 0);  // puts SM2C in use
    ASSERT_EQ(key.ImportDoubleCert(IssueFor(signPub, "sign"), IssueFor(enc.get(), "enc"),
                                   ByteArray(envelope.data(), static_cast<unsigned long>(envelope.size())))
                  .ErrorCode(),
              0);

    DriverSession driver(m_dir + "/drivers/SDCA&HNCA/SKF_APP.dll");
    HCONTAINER con = driver.Open("E1", "SM2C");
    ASSERT_NE(con, nullptr);
    Bytes secret = {'e', 'n', 'c', '!'};
    softkey::Sm2Cipher c;
    ASSERT_TRUE(softkey::Sm2Encrypt(enc.get(), secret.data(), secret.size(), c));
    Bytes blob(ECC_CIPHER_HEADER_LEN + secret.size(), 0);
    std::memcpy(&blob[32], c.x, 32);
    std::memcpy(&blob[96], c.y, 32);
    std::memcpy(&blob[128], c.hash, 32);
    ULONG len = static_cast<ULONG>(c.cipher.size());
    std::memcpy(&blob[160], &len, 4);
    std::memcpy(&blob[164], c.cipher.data(), c.cipher.size());
    BYTE plain[1024];
    ULONG plainLen = sizeof plain;
    ASSERT_EQ(driver.Fn<decltype(SKF_ECCDecrypt)>("SKF_ECCDecrypt")(con, FALSE, (PECCCIPHERBLOB)blob.data(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
    EVP_PKEY_free(signPub);

    // RSA: the session key wrapped for the signing key, the private key blob under SM4.
    EVP_PKEY* rsaSignPub = PublicKeyOf("E1", "RSAC");
    softkey::Pkey rsaEnc = softkey::LoadPrivateKey(softkey::GenerateKeyPair(softkey::KeyAlg::Rsa, 2048, spki));
    Bytes encKey = softkey::RsaEnvelope(rsaSignPub, rsaEnc.get());
    ASSERT_FALSE(encKey.empty());

    std::string rsaName = "RSAC";
    EXPECT_EQ(key.ImportDoubleCertWithCntName(IssueFor(rsaSignPub, "s"), IssueFor(rsaEnc.get(), "e"),
                                              ByteArray(encKey.data(), 256ul), rsaName)
                  .ErrorCode(),
              48);
    // An encryption certificate that is not for the imported key pair is not written.
    ByteArray encKeyBytes(encKey.data(), static_cast<unsigned long>(encKey.size()));
    EXPECT_EQ(key.ImportDoubleCertWithCntName(IssueFor(rsaSignPub, "sign"),
                                              IssueFor(rsaSignPub, "enc"), encKeyBytes, rsaName)
                  .ErrorCode(),
              29);
    ByteArray encCertOnKey;
    EXPECT_NE(key.GetEncCertData(encCertOnKey).ErrorCode(), 0);
    ASSERT_EQ(key.ImportDoubleCertWithCntName(IssueFor(rsaSignPub, "sign"), IssueFor(rsaEnc.get(), "enc"),
                                              ByteArray(encKey.data(), static_cast<unsigned long>(encKey.size())),
                                              rsaName)
                  .ErrorCode(),
              0);
    HCONTAINER rsaCon = driver.Open("E1", "RSAC");
    ASSERT_NE(rsaCon, nullptr);
    Bytes cipher;
    ASSERT_TRUE(softkey::RsaEncrypt(rsaEnc.get(), secret.data(), secret.size(), cipher));
    plainLen = sizeof plain;
    ASSERT_EQ(driver.Fn<decltype(SKF_RSADecrypt)>("SKF_RSADecrypt")(rsaCon, FALSE, cipher.data(), (ULONG)cipher.size(), plain, &plainLen), SAR_OK);
    EXPECT_EQ(Bytes(plain, plain + plainLen), secret);
    EVP_PKEY_free(rsaSignPub);
}

TEST_F(KeyCertificateTest, AnEnvelopeIsCheckedAgainstItsCipherLengthBeforeAnythingIsWritten) {
    AddKey("E2", "1D99&0001");
    Softkey("container create E2 SM2C sm2");
    std::string earlier = IssueOnKey("E2", "SM2C", "earlier");
    SkfUKey key("SKF_APP.dll");
    int retry;
    ASSERT_EQ(key.VerifyPin("12345678", retry).ErrorCode(), 0);
    EVP_PKEY* signPub = PublicKeyOf("E2", "SM2C");
    Bytes spki;
    softkey::Pkey enc =
        softkey::LoadPrivateKey(softkey::GenerateKeyPair(softkey::KeyAlg::Sm2, 256, spki));
    Bytes envelope = softkey::Sm2Envelope(signPub, enc.get());
    const size_t header = offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) + ECC_CIPHER_HEADER_LEN;
    ASSERT_GT(envelope.size(), header);
    auto withCipherLength = [&](ULONG cipherLength, size_t size) {
        Bytes copy = envelope;
        copy.resize(size);
        std::memcpy(
            &copy[offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) + offsetof(ECCCIPHERBLOB, CipherLen)],
            &cipherLength, sizeof cipherLength);
        return ByteArray(copy.data(), static_cast<unsigned long>(copy.size()));
    };
    ULONG cipherLength = static_cast<ULONG>(envelope.size() - header);
    // Cut to its header, one cipher byte short, and a length no blob holds: the driver would read
    // past the buffer.
    for (const ByteArray& bad : {withCipherLength(cipherLength, header),
                                 withCipherLength(cipherLength, envelope.size() - 1),
                                 withCipherLength(cipherLength + 1, envelope.size()),
                                 withCipherLength(0xFFFFFFFFu, envelope.size())})
        EXPECT_EQ(key.ImportDoubleCert(IssueFor(signPub, "sign"), IssueFor(enc.get(), "enc"), bad)
                      .ErrorCode(),
                  29);
    // A whole envelope whose public key is not the encryption certificate's.
    softkey::Pkey other =
        softkey::LoadPrivateKey(softkey::GenerateKeyPair(softkey::KeyAlg::Sm2, 256, spki));
    EXPECT_EQ(key.ImportDoubleCert(
                     IssueFor(signPub, "sign"), IssueFor(other.get(), "enc"),
                     ByteArray(envelope.data(), static_cast<unsigned long>(envelope.size())))
                  .ErrorCode(),
              29);
    EVP_PKEY_free(signPub);

    // The key holds the signing certificate it had, and no encryption certificate.
    auto exported = [&](const std::string& usage) {
        std::string pem = m_dir + "/exported." + usage + ".pem";
        std::string command =
            std::string(SOFTKEY_CLI) + " cert export E2 SM2C " + usage + " " + pem;
        X509* cert =
            system((command + " > /dev/null 2>&1").c_str()) == 0 ? LoadPemCert(pem) : nullptr;
        std::string b64 = cert ? Base64Encode(Der(cert)) : "";
        X509_free(cert);
        return b64;
    };
    EXPECT_EQ(exported("sign"), earlier);
    EXPECT_EQ(exported("enc"), "");
}

}  // namespace
