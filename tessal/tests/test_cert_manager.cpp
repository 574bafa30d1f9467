// The certificate life cycle on software keys: key pairs and requests made on the key, checked
// by OpenSSL; applications, downloads and imports against cloudsim as the issuing CA.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloudsim_rig.h"
#include "devices/key_manager.h"
#include "key_rig.h"
#include "sm2_cipher_text.h"
#include "tessal/cert_requests.h"
#include "tessal/certificates.h"
#include "tessal/data_protection.h"
#include "tessal/devices.h"
#include "tessal/http.h"
#include "tessal/result.h"
#include "tessal/signing.h"
#include "token/skf_ukey.h"
#include "workflows/cert_manager.h"

using namespace test_support;

namespace {

const char kSm2Id[] = "1234567812345678";

int Shell(const std::string& command) { return system((command + " > /dev/null 2>&1").c_str()); }

std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) pclose(pipe);
    return out;
}

X509_REQ* ParseRequest(const std::string& base64) {
    ByteArray der = Base64Decode(base64);
    const unsigned char* p = der.data();
    return d2i_X509_REQ(nullptr, &p, der.length());
}

X509* ParseCert(const std::string& base64) {
    ByteArray der = Base64Decode(base64);
    const unsigned char* p = der.data();
    return d2i_X509(nullptr, &p, der.length());
}

std::string NameEntry(X509_NAME* name, int nid) {
    char text[256] = {0};
    X509_NAME_get_text_by_NID(name, nid, text, sizeof text);
    return text;
}

// Runs `step` in a process of its own, where the library starts afresh as in a host started
// again; whether the step succeeded.
bool InAnotherProcess(const std::function<bool()>& step) {
    pid_t pid = fork();
    if (pid == 0) _exit(step() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The text "GARBAGE" in Base64: seven bytes that are not a certificate.
const char kNotACertificate[] = "R0FSQkFHRQ==";

class CertManagerTest : public KeyRigTest {
protected:
    void SetUp() override {
        KeyRigTest::SetUp();
        m_sim.reset(new CloudSim(m_dir + "/cloudsim"));
        InstallDriver("SKF_APP.dll");
    }
    // A key with the given containers (name and kind), its PIN verified.
    void UseKey(const std::vector<std::pair<std::string, std::string>>& containers) {
        AddKey(kSerial, "1D99&0001");
        for (const auto& c : containers) Softkey("container create " + kSerial + " " + c.first + " " + c.second);
        ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1);
    }
    // A key whose "CntSM2256" holds an SM2 signing certificate, its PIN verified.
    void UseKeyWithSm2Certificate() {
        UseKey({{"CntSM2256", "sm2"}});
        EVP_PKEY* ca = NewSm2Key();
        CertSpec spec;
        spec.subjectCN = "SM2 holder";
        IssueOnKey(kSerial, "CntSM2256", spec, ca);
        EVP_PKEY_free(ca);
    }
    SkfUKey* Key() { return dynamic_cast<SkfUKey*>(UKeyManager::GetInstance().GetCurrentUKey().get()); }
    // A key whose container "CntRSA" holds a valid certificate from a CA of the test (its
    // certificate in m_testCa); the PIN is not verified, so the library has not touched the key.
    // Returns the certificate's Base64.
    std::string AddKeyWithRsaCertificate() {
        AddKey(kSerial, "1D99&0001");
        Softkey("container create " + kSerial + " CntRSA rsa2048");
        EVP_PKEY* ca = NewRsaKey(2048);
        CertSpec caSpec;
        caSpec.subjectCN = caSpec.issuerCN = "Test CA";
        caSpec.caExtensions = true;
        X509* caCert = MakeCertificate(caSpec, ca, ca);
        m_testCa = WriteFile("test-ca.pem", Pem(caCert));
        X509_free(caCert);
        CertSpec spec;
        spec.subjectCN = "Earlier holder";
        std::string earlier = IssueOnKey(kSerial, "CntRSA", spec, ca);
        EVP_PKEY_free(ca);
        return earlier;
    }
    // The Base64 DER of a container's certificate as the software key holds it; "" for none.
    std::string CertificateOnKey(const std::string& container, const char* usage = "sign") {
        std::string pem = m_dir + "/" + container + "." + usage + ".exported.pem";
        unlink(pem.c_str());
        if (Shell(std::string(SOFTKEY_CLI) + " cert export " + kSerial + " " + container + " " +
                  usage + " " + pem))
            return std::string();
        return Output("openssl x509 -outform DER -in " + pem + " | base64 -w0");
    }
    // The container holds a certificate for `cn` whose key is the container's `usage` key pair.
    void ExpectCertificateOfItsKeyPair(const std::string& container, const std::string& cn,
                                       const char* usage = "sign") {
        X509* cert = ParseCert(CertificateOnKey(container, usage));
        ASSERT_NE(cert, nullptr) << container;
        EXPECT_EQ(NameEntry(X509_get_subject_name(cert), NID_commonName), cn);
        EVP_PKEY* key = ContainerPublicKey(kSerial, container, usage);
        EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert), key), 1) << container << " " << usage;
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    // A PKCS#7 signature made by the key verifies with `openssl cms -verify` against `caFile`.
    void ExpectSignatureVerifies(const std::string& caFile) {
        std::string p7;
        ASSERT_TRUE(ZYKSignP7(Base64Encode(ByteArray("content", 7)), p7, 0)) << ZYKGetLastError();
        std::string p7File = WriteDer("signed.p7", p7);
        EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + p7File + " -CAfile " +
                        caFile + " -partial_chain -purpose any -out /dev/null"),
                  0);
    }
    std::string IssuingRsaCa() const { return m_dir + "/cloudsim/issuing-rsa-ca.pem"; }
    void ExpectImportRefused() { EXPECT_EQ(ZYKGetLastError(), "导入证书失败"); }

    // The names of the key's containers, one a line, as the software key lists them.
    std::string Containers() {
        return Output(std::string(SOFTKEY_CLI) + " container list " + kSerial + " 2>&1");
    }
    std::string WriteFile(const std::string& name, const std::string& text) {
        std::string path = m_dir + "/" + name;
        WriteText(path, text);
        return path;
    }
    std::string WriteDer(const std::string& name, const std::string& base64) {
        ByteArray der = Base64Decode(base64);
        return WriteFile(name, std::string(reinterpret_cast<const char*>(der.data()), der.length()));
    }
    // The request verifies with the openssl command line and holds the container's public key.
    void ExpectRequestOfContainer(const std::string& p10, const std::string& container, bool sm2) {
        std::string path = WriteDer(container + ".p10", p10);
        std::string options = sm2 ? " -vfyopt distid:" + std::string(kSm2Id) : "";
        // The command exits with 0 whatever the outcome; its message tells.
        EXPECT_NE(Output("openssl req -inform DER -noout -verify -in " + path + options + " 2>&1").find("verify OK"),
                  std::string::npos)
            << container;
        X509_REQ* req = ParseRequest(p10);
        ASSERT_NE(req, nullptr);
        EVP_PKEY* expected = ContainerPublicKey(kSerial, container);
        EXPECT_EQ(EVP_PKEY_eq(X509_REQ_get0_pubkey(req), expected), 1);
        EXPECT_EQ(X509_REQ_get_signature_nid(req), sm2 ? NID_SM2_with_SM3 : NID_sha256WithRSAEncryption);
        EVP_PKEY_free(expected);
        X509_REQ_free(req);
    }

    // The request of the last application cloudsim received.
    std::string P10Sent() {
        std::string body = m_sim->LastBody();
        size_t start = body.find("\"p10\":\"");
        if (start == std::string::npos) return std::string();
        start += 7;
        return body.substr(start, body.find('"', start) - start);
    }

    const std::string kSerial = "CM1";
    std::unique_ptr<CloudSim> m_sim;
    std::string m_testCa;
};

TEST(ContainerNames, NextRsaContainerIncrementsTheNumberAfterTheLastUnderscore) {
    EXPECT_EQ(CertManager::NextRsaContainerName("CntRSA2048_9", 2048), "CntRSA2048_10");
    EXPECT_EQ(CertManager::NextRsaContainerName("CntRSA2048", 2048), "CntRSA2048_1");
    EXPECT_EQ(CertManager::NextRsaContainerName("Cnt_a_41x", 2048), "Cnt_a_42");
    EXPECT_EQ(CertManager::NextRsaContainerName("Cnt_ 7", 2048), "Cnt_8");
    // Nothing to increment: a new name that cannot be the open container's.
    EXPECT_EQ(CertManager::NextRsaContainerName("", 2048), "CntRSA2048_0");
    EXPECT_EQ(CertManager::NextRsaContainerName("Signer", 2048), "Signer_1");
    EXPECT_EQ(CertManager::NextRsaContainerName("Cnt_x", 2048), "Cnt_x_1");
    EXPECT_EQ(CertManager::NextRsaContainerName("Cnt_", 2048), "Cnt__1");
}

TEST(SubjectText, ParsedIntoUtf8EntriesInOrder) {
    X509_NAME* name = CertManager::ParseSubject("CN=张三@123,O=org=ignored,bogus,XX=1,C=CN");
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(X509_NAME_entry_count(name), 3);
    EXPECT_EQ(NameEntry(name, NID_commonName), "张三@123");
    EXPECT_EQ(NameEntry(name, NID_organizationName), "org");
    EXPECT_EQ(OBJ_obj2nid(X509_NAME_ENTRY_get_object(X509_NAME_get_entry(name, 2))), NID_countryName);
    EXPECT_EQ(ASN1_STRING_type(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, 2))), V_ASN1_UTF8STRING);
    X509_NAME_free(name);
    EXPECT_EQ(CertManager::ParseSubject(""), nullptr);
}

TEST_F(CertManagerTest, RsaRequestsAreSignedOnTheKeyInNumberedContainers) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10, current, next;
    ASSERT_TRUE(ZYKRequestP10FromWEB("张三", "3101", deviceId, p10, current, next)) << ZYKGetLastError();
    EXPECT_EQ(deviceId, kSerial);
    EXPECT_EQ(next, "CntRSA2048_0");
    ExpectRequestOfContainer(p10, "CntRSA2048_0", false);
    X509_REQ* req = ParseRequest(p10);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(X509_REQ_get_version(req), 0);
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_commonName), "张三@3101");
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_countryName), "CN");
    X509_REQ_free(req);

    // The next request derives its container from the one just made.
    std::string current2, next2;
    ASSERT_TRUE(ZYKRequestP10FromWEB("李四", "3102", deviceId, p10, current2, next2)) << ZYKGetLastError();
    EXPECT_EQ(current2, "CntRSA2048_0");
    EXPECT_EQ(next2, "CntRSA2048_1");
    ExpectRequestOfContainer(p10, "CntRSA2048_1", false);

    // A container created as "CntRSA2048_9" is followed by "CntRSA2048_10".
    ASSERT_EQ(Key()->CreateContainer("CntRSA2048_9").ErrorCode(), 0);
    ASSERT_TRUE(ZYKRequestP10FromWEB("王五", "3103", deviceId, p10, current2, next2));
    EXPECT_EQ(next2, "CntRSA2048_10");
    ExpectRequestOfContainer(p10, "CntRSA2048_10", false);
}

TEST_F(CertManagerTest, AnEmptySubjectGivesARequestWithAnEmptyName) {
    UseKey({{"Init", "rsa2048"}});
    CResult result;
    std::string current, next;
    ByteArray der = CertManager::GenerateRsaP10("", 2048, current, next, result);
    ASSERT_EQ(result.ErrorCode(), 0);
    X509_REQ* req = ParseRequest(Base64Encode(der));
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(X509_NAME_entry_count(X509_REQ_get_subject_name(req)), 0);
    X509_REQ_free(req);
    ExpectRequestOfContainer(Base64Encode(der), next, false);
}

TEST_F(CertManagerTest, AnExistingNextContainerIsReportedAndKept) {
    UseKey({{"CntRSA2048_0", "rsa2048"}});
    std::string deviceId, p10, current, next;
    EXPECT_FALSE(ZYKRequestP10FromWEB("a", "1", deviceId, p10, current, next));
    EXPECT_EQ(ZYKGetLastError(), "该容器已申请过证书");
    EXPECT_FALSE(ZYKRequestCert("a", "1", "138", "a@b.c", "12", "O1", "", "", ""));
    EXPECT_EQ(ZYKGetLastError(), "该容器已申请过证书");
    EXPECT_NE(Containers().find("CntRSA2048_0"), std::string::npos);
    EXPECT_EQ(m_sim->LastServicePath(), "");
}

TEST_F(CertManagerTest, Sm2RequestsAreBuiltByVornicAndSignedOnTheKey) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10;
    ASSERT_TRUE(ZYKRequestP10("user1", "org1", deviceId, p10)) << ZYKGetLastError();
    EXPECT_EQ(deviceId, kSerial);
    ExpectRequestOfContainer(p10, "CntSM2256", true);
    X509_REQ* req = ParseRequest(p10);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_commonName), "user1");
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_organizationName), "org1");
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>(kSm2Id), 16);
    X509_REQ_set0_distinguishing_id(req, id);
    EXPECT_EQ(X509_REQ_verify(req, X509_REQ_get0_pubkey(req)), 1);
    X509_REQ_free(req);
}

TEST_F(CertManagerTest, ARefusedSubjectFailsAndLeavesNoContainer) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10 = "unchanged";
    // The common name's "," makes a second part that is not "C=": the builder refuses it.
    EXPECT_FALSE(ZYKRequestP10("a,b", "org", deviceId, p10));
    EXPECT_EQ(ZYKGetLastError(), "生成P10请求失败");
    EXPECT_EQ(p10, "unchanged");
    EXPECT_EQ(Containers().find("CntSM2256"), std::string::npos);
    ByteArray request;
    CResult result = CertManager::GenerateP10("O=x", request);
    EXPECT_EQ(result.ErrorCode(), 10);
    EXPECT_NE(result.GetErrorLocation().find("CertManager::GenerateP10"), std::string::npos);
    EXPECT_FALSE(ZYKRequestDoubleCert("a,b", "", "1", "O1"));
    EXPECT_EQ(m_sim->LastServicePath(), "");
}

TEST_F(CertManagerTest, AKeyWithTheSm2CertificateRefusesAnotherSm2Pair) {
    UseKeyWithSm2Certificate();
    std::string before = Containers();
    std::string deviceId, p10;
    EXPECT_FALSE(ZYKRequestP10("user1", "org1", deviceId, p10));
    EXPECT_EQ(ZYKGetLastError(), "已申请过SM2证书");
    ByteArray x, y;
    EXPECT_EQ(CertManager::GenerateSM2KeyPair(x, y).ErrorCode(), 58);
    EXPECT_EQ(Containers(), before);
}

TEST_F(CertManagerTest, RequestsWithoutAKeyFailWithInitialisation) {
    std::string name = "a", docId = "1", tenant = "CORPORATE", customer = "", caType = "RSA", validity = "12",
                order = "G1", contact = "", certId = "U1";
    CResult result = CertManager::RequestCertOnGW("CN=a", name, docId, tenant, customer, caType, validity, order,
                                                  contact, certId);
    EXPECT_EQ(result.ErrorCode(), 25);
    EXPECT_NE(result.GetErrorLocation().find("CertManager::RequestCertOnGW"), std::string::npos);
    EXPECT_EQ(CertManager::RequestCert("CN=a", "a", "1", "", "", "12", "", "", "", "").ErrorCode(), 25);
    ByteArray request;
    EXPECT_EQ(CertManager::GenerateP10("CN=a,C=CN,O=b", request).ErrorCode(), 25);
    EXPECT_FALSE(ZYKRequestCert("a", "1", "138", "a@b.c", "12", "O1", "", "", ""));
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    EXPECT_EQ(m_sim->LastServicePath(), "");
}

TEST_F(CertManagerTest, RsaCycleRequestIssueImportAndSign) {
    UseKey({{"Init", "rsa2048"}});
    // A refused application removes the containers without certificate it leaves.
    m_sim->ControlIssuance("refuse");
    EXPECT_FALSE(ZYKRequestCert("Acme", "9131", "138", "a@b.c", "36", "O1", "RSA", "web", "C9"));
    EXPECT_NE(ZYKGetLastError(), "Error");
    EXPECT_EQ(Containers().find("CntRSA2048_0"), std::string::npos);

    ASSERT_TRUE(ZYKRequestCert("Acme", "9131", "138", "a@b.c", "36", "O1", "RSA", "web", "C9"))
        << ZYKGetLastError();
    EXPECT_NE(m_sim->LastBody().find("\"validity\":\"24\""), std::string::npos) << m_sim->LastBody();
    EXPECT_NE(Containers().find("CntRSA2048_0"), std::string::npos);
    ASSERT_TRUE(ZYKImportCertFromJava("O1", "")) << ZYKGetLastError();

    // The key, still open, lists the new container and signs with the issued certificate.
    EXPECT_EQ(ZYKGetContainers(), "CntRSA2048_0");  // the request removed the empty "Init"
    std::string certificate;
    ASSERT_TRUE(ZYKGetCertData(certificate)) << ZYKGetLastError();
    X509* cert = ParseCert(certificate);
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(NameEntry(X509_get_subject_name(cert), NID_commonName), "Acme@9131");
    EVP_PKEY* key = ContainerPublicKey(kSerial, "CntRSA2048_0");
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert), key), 1);
    EVP_PKEY_free(key);
    X509_free(cert);
    std::string p7;
    ASSERT_TRUE(ZYKSignP7(Base64Encode(ByteArray("content", 7)), p7, 0)) << ZYKGetLastError();
    std::string p7File = WriteDer("signed.p7", p7);
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + p7File + " -CAfile " + m_dir +
                    "/cloudsim/issuing-rsa-ca.pem -partial_chain -purpose any -out /dev/null"),
              0);
}

TEST_F(CertManagerTest, PersonalAndGatewayApplicationsCarryTheKeysRequest) {
    UseKey({{"Init", "rsa2048"}});
    ASSERT_TRUE(ZYKPersonalRequestCert("Li", "3101", "139", "x@y.z", "12", "", "SM2", "", "C1"))
        << ZYKGetLastError();
    EXPECT_NE(m_sim->LastBody().find("\"tenantType\":\"PERSONAL\""), std::string::npos);
    EXPECT_NE(m_sim->LastBody().find("\"validity\":\"12\""), std::string::npos);
    ExpectRequestOfContainer(P10Sent(), "CntRSA2048_0", false);

    std::string name = "Acme", docId = "9131", tenant = "CORPORATE", customer = "C2", caType = "RSA",
                validity = "36", order = "G1", contact = "138", certId = "U7";
    ASSERT_TRUE(ZYKRequestCertOnGW(name, docId, tenant, customer, caType, validity, order, contact, certId))
        << ZYKGetLastError();
    EXPECT_EQ(m_sim->LastServicePath(), "/common/ukey/applyukeycert");
    EXPECT_NE(m_sim->LastBody().find("\"validity\":\"36\""), std::string::npos);  // passed unchanged
    ExpectRequestOfContainer(P10Sent(), "CntRSA2048_1", false);
    ASSERT_TRUE(ZYKImportCertOnGW(order, contact, certId)) << ZYKGetLastError();
}

TEST_F(CertManagerTest, Sm2CycleRequestIssueImportPairAndSign) {
    UseKey({{"Init", "rsa2048"}});
    ASSERT_TRUE(ZYKRequestDoubleCert("张三", "", "3101", "D1")) << ZYKGetLastError();
    ExpectRequestOfContainer(P10Sent(), "CntSM2256", true);
    X509_REQ* req = ParseRequest(P10Sent());
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(X509_NAME_entry_count(X509_REQ_get_subject_name(req)), 3);  // no ",OU=" for an empty unit
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_commonName), "张三@3101");
    X509_REQ_free(req);
    ASSERT_TRUE(ZYKImportDoubleCert()) << ZYKGetLastError();

    // The key, still open, holds the pair: each certificate carries the key pair beside it.
    std::string signCert, encCert;
    ASSERT_TRUE(ZYKGetCertData(signCert)) << ZYKGetLastError();
    ASSERT_TRUE(ZYKGetEncCertData(encCert)) << ZYKGetLastError();
    X509* sign = ParseCert(signCert);
    X509* enc = ParseCert(encCert);
    ASSERT_TRUE(sign && enc);
    EVP_PKEY* signKey = ContainerPublicKey(kSerial, "CntSM2256", "sign");
    EVP_PKEY* encKey = ContainerPublicKey(kSerial, "CntSM2256", "enc");
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(sign), signKey), 1);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(enc), encKey), 1);

    // A seal signature made with the new signing key verifies against the issued certificate.
    const std::string seal = "seal bytes";
    std::string signature;
    ASSERT_TRUE(ZYKSignSeal(Base64Encode(ByteArray(seal.data(), static_cast<int>(seal.size()))), signature))
        << ZYKGetLastError();
    ByteArray der = Base64Decode(signature);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(X509_get0_pubkey(sign), nullptr);
    EVP_PKEY_CTX_set1_id(pctx, kSm2Id, 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    EXPECT_EQ(EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, X509_get0_pubkey(sign)), 1);
    EXPECT_EQ(EVP_DigestVerify(md, der.data(), der.length(), reinterpret_cast<const unsigned char*>(seal.data()),
                               seal.size()),
              1);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);

    // Data OpenSSL encrypted to the issued encryption certificate decrypts on the key.
    const std::string secret = "for the encryption key only";
    std::string cipher = Base64Encode(Sm2DerToRaw(Sm2EncryptDer(X509_get0_pubkey(enc), secret)));
    std::string plain;
    ASSERT_TRUE(ZYKEccDeCrypt(cipher, plain)) << ZYKGetLastError();
    ByteArray decrypted = Base64Decode(plain);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(decrypted.data()), decrypted.length()), secret);
    EVP_PKEY_free(signKey);
    EVP_PKEY_free(encKey);
    X509_free(sign);
    X509_free(enc);
}

TEST_F(CertManagerTest, WebImportsWriteIntoTheNamedContainer) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10, current, next;
    ASSERT_TRUE(ZYKRequestP10FromWEB("Web", "1", deviceId, p10, current, next));
    ASSERT_EQ(CHttpClient::RequestCert(p10, deviceId, "Web", "1", "138", "a@b.c", "12", "W1", "", "", "").ErrorCode(),
              0);
    std::string cert;
    ASSERT_EQ(CHttpClient::DnowLoadCert(cert, deviceId, "W1", "").ErrorCode(), 0);
    // With an encryption certificate but no key, only the signing certificate is written.
    EXPECT_TRUE(ZYKImportDoubleCertFromWEB(cert, cert, "", next)) << ZYKGetLastError();
    std::string out = m_dir + "/web.cert";
    EXPECT_EQ(Shell(std::string(SOFTKEY_CLI) + " cert export " + kSerial + " " + next + " sign " + out), 0);
    EXPECT_NE(Shell(std::string(SOFTKEY_CLI) + " cert export " + kSerial + " " + next + " enc " + out), 0);
    EXPECT_FALSE(ZYKImportCertFromWEB(cert, "NoSuchContainer"));
}

TEST_F(CertManagerTest, Sm2ImportRewritesTheEncryptionCertificateWithoutLineBreaks) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10, order = "D2";
    ASSERT_TRUE(ZYKRequestP10("user1", "org1", deviceId, p10)) << ZYKGetLastError();
    ASSERT_EQ(CHttpClient::RequestDoubleCert(p10, deviceId, order).ErrorCode(), 0);
    std::string signCert, encCert, encKey;
    ASSERT_EQ(CHttpClient::DnowLoadDoubleCert(deviceId, signCert, encCert, encKey).ErrorCode(), 0);
    std::string wrapped = encCert.substr(0, 40) + "\r\n" + encCert.substr(40);
    ASSERT_TRUE(ZYKImportSM2DoubleCert(signCert, wrapped, encKey)) << ZYKGetLastError();
    EXPECT_EQ(wrapped, encCert);
}

TEST_F(CertManagerTest, ClearingAContainerOpensTheKeysAgain) {
    InstallDriver("EsZYKEBankCspV2.dll");  // the own middleware: the only kind that may delete
    AddKey(kSerial, "1EA8&C109");
    Softkey("container create " + kSerial + " Keep rsa2048");
    Softkey("container create " + kSerial + " Drop rsa2048");
    ASSERT_EQ(ZYKGetContainers(), "Keep;Drop");
    std::string missing = "Missing";
    EXPECT_FALSE(ZYKClearUkeyCnt(missing));  // no PIN needed, and a failure leaves the set alone
    EXPECT_EQ(ZYKGetContainers(), "Keep;Drop");
    std::string drop = "Drop";
    ASSERT_TRUE(ZYKClearUkeyCnt(drop)) << ZYKGetLastError();
    // The rebuilt key set lists what the key now holds.
    EXPECT_EQ(ZYKGetContainers(), "Keep");
    EXPECT_EQ(Containers().find("Drop"), std::string::npos);
}

TEST_F(CertManagerTest, ExportsNeedAKeyAndItsPin) {
    std::string deviceId, p10, current, next, container = "Keep";
    EXPECT_FALSE(ZYKRequestP10("a", "b", deviceId, p10));
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    EXPECT_FALSE(ZYKClearUkeyCnt(container));
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    AddKey(kSerial, "1D99&0001");
    Softkey("container create " + kSerial + " Keep rsa2048");
    EXPECT_FALSE(ZYKRequestP10FromWEB("a", "1", deviceId, p10, current, next));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_FALSE(ZYKImportDoubleCert());
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_EQ(Containers().find("CntRSA2048"), std::string::npos);
}

TEST_F(CertManagerTest, AnUnsignedRequestFailsInsteadOfReportingSuccess) {
    UseKey({{"Init", "rsa2048"}});
    Softkey("fault " + kSerial + " SKF_RSASignData 0x0A000001 --count 10");
    EXPECT_FALSE(ZYKRequestCert("a", "1", "138", "a@b.c", "12", "O1", "", "", ""));
    EXPECT_EQ(ZYKGetLastError(), "生成P10请求失败");
    EXPECT_EQ(m_sim->LastServicePath(), "");
    EXPECT_EQ(Containers().find("CntRSA2048_0"), std::string::npos);
    std::string name = "a", docId = "1", tenant = "CORPORATE", customer = "", caType = "RSA", validity = "12",
                order = "G1", contact = "", certId = "U1";
    CResult result =
        CertManager::RequestCertOnGW("CN=a", name, docId, tenant, customer, caType, validity, order, contact, certId);
    EXPECT_EQ(result.ErrorCode(), 10);
    EXPECT_NE(result.GetErrorLocation().find("CertManager::RequestCertOnGW"), std::string::npos);
    EXPECT_EQ(m_sim->LastServicePath(), "");
}

TEST_F(CertManagerTest, AnIssuedCertificateGoesIntoTheRequestsContainer) {
    UseKey({{"CntRSA", "rsa2048"}});
    EVP_PKEY* ca = EVP_RSA_gen(2048);
    CertSpec spec;
    spec.subjectCN = "Earlier holder";
    std::string earlier = IssueOnKey(kSerial, "CntRSA", spec, ca);
    EVP_PKEY_free(ca);
    std::string certificate;
    ASSERT_TRUE(ZYKGetCertData(certificate));  // leaves the first container in use
    ASSERT_TRUE(ZYKRequestCert("Acme", "9131", "138", "a@b.c", "12", "O1", "", "", "")) << ZYKGetLastError();
    ASSERT_TRUE(ZYKImportCertFromJava("O1", "")) << ZYKGetLastError();
    // The first container keeps its own certificate; the new one holds the issued certificate.
    std::string kept = m_dir + "/kept.pem", issued = m_dir + "/issued.pem";
    ASSERT_EQ(Shell(std::string(SOFTKEY_CLI) + " cert export " + kSerial + " CntRSA sign " + kept), 0);
    EXPECT_EQ(Output("openssl x509 -outform DER -in " + kept + " | base64 -w0"), earlier);
    ASSERT_EQ(Shell(std::string(SOFTKEY_CLI) + " cert export " + kSerial + " CntRSA2048_0 sign " + issued), 0);
    EXPECT_NE(Output("openssl x509 -noout -subject -in " + issued).find("Acme@9131"), std::string::npos);
}

TEST_F(CertManagerTest, ACertificateImportedAgainIsTheOneTheOpenKeySignsWith) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10, current, next;
    ASSERT_TRUE(ZYKRequestP10FromWEB("Web", "1", deviceId, p10, current, next)) << ZYKGetLastError();
    EXPECT_EQ(ZYKGetContainers(), "Init;" + next);
    // Two certificates for the same key pair, imported one after the other into its container.
    std::string signedBy[2];
    for (int i = 0; i < 2; ++i) {
        std::string order = "W" + std::to_string(i), cert;
        ASSERT_EQ(CHttpClient::RequestCert(p10, deviceId, "Web", "1", "138", "a@b.c", "12", order, "", "", "")
                      .ErrorCode(),
                  0);
        ASSERT_EQ(CHttpClient::DnowLoadCert(cert, deviceId, order, "").ErrorCode(), 0);
        ASSERT_TRUE(ZYKImportCertFromWEB(cert, next)) << ZYKGetLastError();
        std::string p7;
        ASSERT_TRUE(ZYKSignP7(Base64Encode(ByteArray("content", 7)), p7, 0)) << ZYKGetLastError();
        ByteArray der = Base64Decode(p7);
        const unsigned char* p = der.data();
        PKCS7* message = d2i_PKCS7(nullptr, &p, der.length());
        ASSERT_NE(message, nullptr);
        STACK_OF(X509)* certs = message->d.sign->cert;
        ASSERT_EQ(sk_X509_num(certs), 1);
        X509* imported = ParseCert(cert);
        EXPECT_EQ(X509_cmp(sk_X509_value(certs, 0), imported), 0) << "import " << i;
        ASN1_INTEGER* serial = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(message), 0)->issuer_and_serial->serial;
        EXPECT_EQ(ASN1_INTEGER_cmp(serial, X509_get0_serialNumber(imported)), 0) << "import " << i;
        X509_free(imported);
        PKCS7_free(message);
    }
}

TEST_F(CertManagerTest, ARefusedApplicationOnAKeyWithTheSm2CertificateLeavesNoContainer) {
    UseKeyWithSm2Certificate();
    m_sim->ControlIssuance("refuse");
    EXPECT_FALSE(ZYKRequestCert("Acme", "9131", "138", "a@b.c", "12", "O1", "", "", ""));
    EXPECT_NE(ZYKGetLastError(), "已申请过SM2证书");  // the refusal is what the host reads
    EXPECT_EQ(Containers().find("CntRSA2048_0"), std::string::npos);
    EXPECT_NE(Containers().find("CntSM2256"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(CertManagerTest, ACertificateDownloadedAfterARestartGoesIntoItsOwnContainer) {
    std::string earlier = AddKeyWithRsaCertificate();
    // The application is made by one run of the host, the download and import by the next.
    ASSERT_TRUE(InAnotherProcess([this] {
        return ZYKVerifyPin("12345678", kSerial) == -1 &&
               ZYKRequestCert("Acme", "9131", "138", "a@b.c", "12", "O1", "", "", "");
    }));
    ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1);
    ASSERT_TRUE(ZYKImportCertFromJava("O1", "")) << ZYKGetLastError();
    EXPECT_EQ(CertificateOnKey("CntRSA"), earlier);
    ExpectCertificateOfItsKeyPair("CntRSA", "Earlier holder");
    ExpectCertificateOfItsKeyPair("CntRSA2048_0", "Acme@9131");
    ExpectSignatureVerifies(m_testCa);  // the first container's certificate still signs
}

TEST_F(CertManagerTest, TwoPendingOrdersEachGetTheCertificateOfTheirKeyPair) {
    UseKey({{"Init", "rsa2048"}});
    ASSERT_TRUE(ZYKRequestCert("First", "1", "138", "a@b.c", "12", "OA", "", "", ""))
        << ZYKGetLastError();
    ASSERT_TRUE(ZYKRequestCert("Second", "2", "138", "a@b.c", "12", "OB", "", "", ""))
        << ZYKGetLastError();
    ASSERT_TRUE(ZYKImportCertFromJava("OA", "")) << ZYKGetLastError();
    ExpectCertificateOfItsKeyPair("CntRSA2048_0", "First@1");
    EXPECT_EQ(CertificateOnKey("CntRSA2048_1"), "");
    ExpectSignatureVerifies(IssuingRsaCa());
    // Named for the other order's container, the certificate still goes into its own.
    std::string cert;
    ASSERT_EQ(CHttpClient::DnowLoadCert(cert, kSerial, "OB", "").ErrorCode(), 0);
    ASSERT_TRUE(ZYKImportCertFromWEB(cert, "CntRSA2048_0")) << ZYKGetLastError();
    ExpectCertificateOfItsKeyPair("CntRSA2048_0", "First@1");
    ExpectCertificateOfItsKeyPair("CntRSA2048_1", "Second@2");
}

TEST_F(CertManagerTest, AnImportNeverReplacesAValidCertificate) {
    std::string earlier = AddKeyWithRsaCertificate();
    ASSERT_EQ(ZYKVerifyPin("12345678", kSerial), -1);
    std::string certificate;
    ASSERT_TRUE(ZYKGetCertData(certificate));
    // Bytes that are not a certificate, with or without the container's name.
    EXPECT_FALSE(ZYKImportCertFromWEB(kNotACertificate, ""));
    ExpectImportRefused();
    EXPECT_FALSE(ZYKImportCertFromWEB(kNotACertificate, "CntRSA"));
    ExpectImportRefused();
    // A certificate followed by other bytes.
    ByteArray der = Base64Decode(earlier);
    std::string padded(reinterpret_cast<const char*>(der.data()), der.length());
    padded += "tail";
    EXPECT_FALSE(ZYKImportCertFromWEB(
        Base64Encode(ByteArray(padded.data(), static_cast<int>(padded.size()))), ""));
    ExpectImportRefused();
    // A real certificate for a key pair that is not on the key.
    EVP_PKEY* other = NewRsaKey(2048);
    CertSpec spec;
    spec.subjectCN = "Someone else";
    X509* foreign = MakeCertificate(spec, other, other);
    std::string foreignText = Base64Encode(Der(foreign));
    X509_free(foreign);
    EVP_PKEY_free(other);
    EXPECT_FALSE(ZYKImportCertFromWEB(foreignText, "CntRSA"));
    ExpectImportRefused();
    EXPECT_FALSE(ZYKImportCertFromWEB(foreignText, ""));
    ExpectImportRefused();
    // A hostile download answer, for an order whose container waits for its certificate.
    ASSERT_TRUE(ZYKRequestCert("Acme", "9131", "138", "a@b.c", "12", "O1", "", "", ""))
        << ZYKGetLastError();
    m_sim->ControlIssuance("junkcert", 2);
    EXPECT_FALSE(ZYKImportCertFromJava("O1", ""));
    ExpectImportRefused();
    std::string contact, certId;
    EXPECT_FALSE(ZYKImportCertOnGW("O1", contact, certId));
    ExpectImportRefused();

    EXPECT_EQ(CertificateOnKey("CntRSA"), earlier);
    EXPECT_EQ(CertificateOnKey("CntRSA2048_0"), "");
    ExpectSignatureVerifies(m_testCa);
}

TEST_F(CertManagerTest, AnSm2PairIsWrittenOnlyWhenEachCertificateIsForItsKey) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10, order = "D3";
    ASSERT_TRUE(ZYKRequestP10("user1", "org1", deviceId, p10)) << ZYKGetLastError();
    ASSERT_EQ(CHttpClient::RequestDoubleCert(p10, deviceId, order).ErrorCode(), 0);
    std::string signCert, encCert, encKey;
    ASSERT_EQ(CHttpClient::DnowLoadDoubleCert(deviceId, signCert, encCert, encKey).ErrorCode(), 0);
    std::string junk = kNotACertificate;
    // The encryption certificate is not for the container's signing key; the signing one is not
    // for the enveloped key; junk in either place.
    EXPECT_FALSE(ZYKImportSM2DoubleCert(encCert, encCert, encKey));
    ExpectImportRefused();
    EXPECT_FALSE(ZYKImportSM2DoubleCert(signCert, signCert, encKey));
    ExpectImportRefused();
    EXPECT_FALSE(ZYKImportSM2DoubleCert(junk, encCert, encKey));
    ExpectImportRefused();
    EXPECT_FALSE(ZYKImportSM2DoubleCert(signCert, junk, encKey));
    ExpectImportRefused();
    m_sim->ControlIssuance("junkcert");
    EXPECT_FALSE(ZYKImportDoubleCert());
    ExpectImportRefused();
    EXPECT_EQ(CertificateOnKey("CntSM2256", "sign"), "");
    EXPECT_EQ(CertificateOnKey("CntSM2256", "enc"), "");

    ASSERT_TRUE(ZYKImportSM2DoubleCert(signCert, encCert, encKey)) << ZYKGetLastError();
    ExpectCertificateOfItsKeyPair("CntSM2256", "user1", "sign");
    X509* enc = ParseCert(encCert);
    ASSERT_NE(enc, nullptr);
    ExpectCertificateOfItsKeyPair("CntSM2256",
                                  NameEntry(X509_get_subject_name(enc), NID_commonName), "enc");
    X509_free(enc);
}

TEST_F(CertManagerTest, ASubjectOutsideTheAnsiCodePageIsRefused) {
    UseKey({{"Init", "rsa2048"}});
    std::string deviceId, p10 = "unchanged";
    EXPECT_FALSE(ZYKRequestP10("张三😀", "org", deviceId, p10));
    EXPECT_EQ(ZYKGetLastError(), "生成P10请求失败");
    EXPECT_EQ(p10, "unchanged");
    EXPECT_EQ(Containers().find("CntSM2256"), std::string::npos);
    EXPECT_FALSE(ZYKRequestDoubleCert("张三", "部门😀", "1", "D1"));
    EXPECT_EQ(ZYKGetLastError(), "生成P10请求失败");
    EXPECT_EQ(m_sim->LastServicePath(), "");
    // What the code page holds goes through unchanged.
    ASSERT_TRUE(ZYKRequestP10("张三", "组织", deviceId, p10)) << ZYKGetLastError();
    X509_REQ* req = ParseRequest(p10);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_commonName), "张三");
    EXPECT_EQ(NameEntry(X509_REQ_get_subject_name(req), NID_organizationName), "组织");
    X509_REQ_free(req);
}

}  // namespace
