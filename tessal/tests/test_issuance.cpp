// Certificate applications and downloads against the cloud simulator as issuing CA.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstring>
#include <memory>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloud/issuance_messages.h"
#include "cloudsim_rig.h"
#include "core/envelopes.h"
#include "core/softcrypto.h"
#include "skf/skf.h"
#include "tessal/http.h"
#include "test_support.h"
#include "vornic/vornic.h"

using test_support::CloudSim;

namespace {

const char kSm2Id[] = "1234567812345678";

std::string Base64Of(const unsigned char* data, size_t len) {
    return Base64Encode(ByteArray(data, static_cast<unsigned long>(len)));
}

std::string DerOf(const std::string& base64) {
    ByteArray der = Base64Decode(base64);
    return std::string(reinterpret_cast<const char*>(der.data()),
                       static_cast<size_t>(der.length()));
}

// A PKCS#10 request for an RSA key, signed with SHA-256, as Base64.
std::string RsaRequest(EVP_PKEY* key, const char* cn) {
    X509_REQ* req = X509_REQ_new();
    X509_NAME* name = X509_REQ_get_subject_name(req);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_REQ_set_pubkey(req, key);
    EXPECT_GT(X509_REQ_sign(req, key, EVP_sha256()), 0);
    unsigned char* der = nullptr;
    int len = i2d_X509_REQ(req, &der);
    std::string out = Base64Of(der, static_cast<size_t>(len));
    OPENSSL_free(der);
    X509_REQ_free(req);
    return out;
}

// An SM2 request built by libvornic around a signature made with `key`, as Base64.
std::string Sm2Request(EVP_PKEY* key, const char* subject) {
    unsigned char point[65];
    size_t pointLen = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &pointLen);
    unsigned char* info = nullptr;
    int32_t infoLen = 0;
    if (SM2ConstructP10Info(subject, point + 1, point + 33, &info, &infoLen) != 0)
        return std::string();
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, kSm2Id, 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    unsigned char sig[80];
    size_t sigLen = sizeof sig;
    EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key);
    EVP_DigestSign(md, sig, &sigLen, info, static_cast<size_t>(infoLen));
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    const unsigned char* p = sig;
    ECDSA_SIG* ecdsa = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sigLen));
    unsigned char r[32], s[32], request[1024];
    BN_bn2binpad(ECDSA_SIG_get0_r(ecdsa), r, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(ecdsa), s, 32);
    ECDSA_SIG_free(ecdsa);
    uint32_t requestLen = 0;
    if (SM2ConstructP10(&info, infoLen, 0x20400, r, s, request, &requestLen) != 0)
        return std::string();
    return Base64Of(request, requestLen);
}

X509* ParseCert(const std::string& base64) {
    std::string der = DerOf(base64);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

X509* ReadPem(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    X509* cert = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return cert;
}

std::string CommonName(X509* cert) {
    char cn[256] = {0};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn);
    return cn;
}

class IssuanceTest : public ::testing::Test {
protected:
    // One state (CA keys) and one RSA key for the suite; each test starts its own cloudsim.
    static void SetUpTestSuite() {
        s_state = test_support::MakeTempDir("issuance-") + "/state";
        s_rsaKey = EVP_RSA_gen(2048);
    }
    static void TearDownTestSuite() { EVP_PKEY_free(s_rsaKey); }
    void SetUp() override {
        unsetenv("TESSAL_TLS_INSECURE");
        ZYKSetURL("com");
        m_state = s_state;
        m_sim.reset(new CloudSim(m_state));
        m_rsaKey = s_rsaKey;
        m_p10 = RsaRequest(m_rsaKey, "rsa user");
    }
    void TearDown() override { ZYKSetURL("com"); }
    // The certificate `base64` holds `key` and was issued by the CA in `caFile` of the state.
    void ExpectIssued(const std::string& base64, EVP_PKEY* key, const std::string& caFile,
                      const std::string& cn) {
        X509* cert = ParseCert(base64);
        ASSERT_NE(cert, nullptr) << base64;
        EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert), key), 1);
        EXPECT_EQ(CommonName(cert), cn);
        X509* ca = ReadPem(m_state + "/" + caFile);
        ASSERT_NE(ca, nullptr);
        EXPECT_EQ(X509_check_issued(ca, cert), X509_V_OK);
        if (EVP_PKEY_is_a(X509_get0_pubkey(ca), "SM2")) {
            ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>(kSm2Id), 16);
            X509_set0_distinguishing_id(cert, id);
        }
        EXPECT_EQ(X509_verify(cert, X509_get0_pubkey(ca)), 1);
        X509_free(ca);
        X509_free(cert);
    }
    void ExpectFailure(CResult result, int code, const std::string& location) {
        EXPECT_EQ(result.ErrorCode(), code);
        EXPECT_NE(result.GetErrorLocation().find("[functionName]:" + location + "\r\n"),
                  std::string::npos)
            << result.GetErrorLocation();
        EXPECT_EQ(ZYKGetLastError(), result.GetErrorMsg());
    }

    std::string m_state;
    std::unique_ptr<CloudSim> m_sim;
    EVP_PKEY* m_rsaKey = nullptr;
    std::string m_p10;
    static std::string s_state;
    static EVP_PKEY* s_rsaKey;
};

std::string IssuanceTest::s_state;
EVP_PKEY* IssuanceTest::s_rsaKey = nullptr;

TEST_F(IssuanceTest, ApplicationsSendTheirMembersInOrder) {
    ASSERT_EQ(CHttpClient::RequestCert(m_p10, "D1", "Acme", "91310000", "138", "a@b.c", "12", "O1",
                                       "RSA", "web", "C9")
                  .ErrorCode(),
              0);
    EXPECT_EQ(m_sim->LastServicePath(), "/cert/ukey/apply/signature");
    EXPECT_EQ(
        m_sim->LastBody(),
        "{\"name\":\"Acme\",\"tenantType\":\"CORPORATE\",\"telephone\":\"138\",\"p10\":\"" + m_p10 +
            "\",\"deviceId\":\"D1\",\"docID\":\"91310000\",\"email\":\"a@b.c\",\"validity\":\"12\","
            "\"orderId\":\"O1\",\"caType\":\"RSA\",\"platformName\":\"web\",\"customerId\":"
            "\"C9\"}");
    // Empty optional members are left out entirely.
    ASSERT_EQ(
        CHttpClient::RequestCert(m_p10, "D1", "Acme", "9131", "138", "a@b.c", "12", "", "", "", "")
            .ErrorCode(),
        0);
    EXPECT_EQ(
        m_sim->LastBody(),
        "{\"name\":\"Acme\",\"tenantType\":\"CORPORATE\",\"telephone\":\"138\",\"p10\":\"" + m_p10 +
            "\",\"deviceId\":\"D1\",\"docID\":\"9131\",\"email\":\"a@b.c\",\"validity\":\"12\"}");
    ASSERT_EQ(CHttpClient::PersonalRequestCert(m_p10, "D2", "Li", "3101", "139", "x@y.z", "24", "",
                                               "SM2", "", "C1")
                  .ErrorCode(),
              0);
    EXPECT_EQ(
        m_sim->LastBody(),
        "{\"tenantType\":\"PERSONAL\",\"name\":\"Li\",\"telephone\":\"139\",\"docID\":\"3101\","
        "\"p10\":\"" +
            m_p10 +
            "\",\"deviceId\":\"D2\",\"validity\":\"24\",\"caType\":\"SM2\","
            "\"customerId\":\"C1\"}");

    std::string name = "Acme", docId = "9131", tenant = "CORPORATE", customer = "", caType = "RSA",
                validity = "12", order = "G1", contact = "", certId = "U7";
    ASSERT_EQ(CHttpClient::RequestCertOnGW(m_p10, "D3", name, docId, tenant, customer, caType,
                                           validity, order, contact, certId)
                  .ErrorCode(),
              0);
    EXPECT_EQ(m_sim->LastServicePath(), "/common/ukey/applyukeycert");
    EXPECT_EQ(
        m_sim->LastBody(),
        "{\"deviceId\":\"D3\",\"docId\":\"9131\",\"name\":\"Acme\",\"tenantType\":\"CORPORATE\","
        "\"customerId\":\"\",\"caType\":\"RSA\",\"validity\":\"12\",\"p10\":\"" +
            m_p10 + "\",\"orderId\":\"G1\",\"contact\":\"\",\"ukeyOrderCertId\":\"U7\"}");

    std::string doubleOrder = "P1";
    ASSERT_EQ(CHttpClient::RequestDoubleCert(m_p10, "D4", doubleOrder).ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastServicePath(), "/private/ukey/order/applycert");
    EXPECT_EQ(m_sim->LastBody(),
              "{\"deviceId\":\"D4\",\"p10\":\"" + m_p10 + "\",\"orderId\":\"P1\"}");
}

TEST_F(IssuanceTest, BodiesEscapeQuotesBackslashesAndControlCharacters) {
    std::string name = std::string("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f ") + "\xE5\xBC\xA0";
    CHttpClient::RequestCert(m_p10, "D1", name, "1", "2", "3", "4", "", "", "", "");
    std::string expected =
        "{\"name\":\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001F\x7f \xE5\xBC\xA0\",";
    EXPECT_EQ(m_sim->LastBody().substr(0, expected.size()), expected);
}

TEST_F(IssuanceTest, IssuedRsaCertificateDownloadsAndHoldsTheRequestKey) {
    ASSERT_EQ(
        CHttpClient::RequestCert(m_p10, "DEV9", "Acme", "1", "2", "3", "12", "ORD9", "", "", "")
            .ErrorCode(),
        0);
    std::string cert = "old";
    ASSERT_EQ(CHttpClient::DnowLoadCert(cert, "DEV9", "ORD9", "SEAL1").ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastServicePath(), "/cert/ukey/download");
    EXPECT_EQ(m_sim->LastBody(), "");
    ExpectIssued(cert, m_rsaKey, "issuing-rsa-ca.pem", "rsa user");

    // The gateway pair of calls.
    std::string name = "n", docId = "d", tenant = "PERSONAL", customer = "c", caType = "RSA",
                validity = "12", order = "GW1", contact = "138", certId = "U1";
    ASSERT_EQ(CHttpClient::RequestCertOnGW(m_p10, "DEVG", name, docId, tenant, customer, caType,
                                           validity, order, contact, certId)
                  .ErrorCode(),
              0);
    std::string gwCert;
    ASSERT_EQ(CHttpClient::DnowLoadCertOnGW("DEVG", "GW1", contact, certId, gwCert).ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastServicePath(), "/common/ukey/downloadukeycert");
    EXPECT_EQ(m_sim->LastBody(),
              "{\"orderId\":\"GW1\",\"contact\":\"138\",\"ukeyOrderCertId\":\"U1\",\"deviceId\":"
              "\"DEVG\"}");
    ExpectIssued(gwCert, m_rsaKey, "issuing-rsa-ca.pem", "rsa user");
}

TEST_F(IssuanceTest, DownloadQueryIsPercentEncodedAndSkipsEmptyOrder) {
    ASSERT_EQ(CHttpClient::RequestCert(m_p10, "dev 1&x=#", "n", "1", "2", "3", "12", "o/\xC3\xA9",
                                       "", "", "")
                  .ErrorCode(),
              0);
    std::string cert;
    ASSERT_EQ(CHttpClient::DnowLoadCert(cert, "dev 1&x=#", "o/\xC3\xA9", "s~.-_9").ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastTarget(),
              "/cert/ukey/download?deviceId=dev%201%26x%3D%23&orderId=o%2F%C3%A9&sealId=s~.-_9");
    ExpectIssued(cert, m_rsaKey, "issuing-rsa-ca.pem", "rsa user");

    // Without an order id only the device id is sent, even with a seal id.
    std::string latest;
    ASSERT_EQ(CHttpClient::DnowLoadCert(latest, "dev 1&x=#", "", "S1").ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastTarget(), "/cert/ukey/download?deviceId=dev%201%26x%3D%23");
    EXPECT_EQ(latest, cert);
}

TEST_F(IssuanceTest, RefusedAndUnreadableAnswersFailWithTheCallsLocation) {
    // A request whose signature does not verify is refused by the CA.
    std::string der = DerOf(m_p10);
    der[der.size() - 5] ^= 0x01;
    std::string forged = Base64Of(reinterpret_cast<const unsigned char*>(der.data()), der.size());
    ExpectFailure(CHttpClient::RequestCert(forged, "D1", "n", "1", "2", "3", "12", "", "", "", ""),
                  35, "CHttpClient::RequestCert");
    std::string order = "O1";
    ExpectFailure(CHttpClient::RequestDoubleCert(forged, "D1", order), 35,
                  "CHttpClient::RequestDoubleCert");

    m_sim->ControlIssuance("refuse");
    ExpectFailure(
        CHttpClient::PersonalRequestCert(m_p10, "D1", "n", "1", "2", "3", "12", "", "", "", ""), 35,
        "CHttpClient::PersonalRequestCert");
    m_sim->ControlIssuance("lowercase");
    ExpectFailure(CHttpClient::RequestCert(m_p10, "D1", "n", "1", "2", "3", "12", "O1", "", "", ""),
                  35, "CHttpClient::RequestCert");

    // Downloads: nothing issued, "success" in lower case; the output stays as it was.
    std::string cert = "keep";
    ExpectFailure(CHttpClient::DnowLoadCert(cert, "NOBODY", "X", ""), 36,
                  "CHttpClient::DnowLoadCert");
    ASSERT_EQ(CHttpClient::RequestCert(m_p10, "D1", "n", "1", "2", "3", "12", "O1", "", "", "")
                  .ErrorCode(),
              0);
    m_sim->ControlIssuance("lowercase");
    ExpectFailure(CHttpClient::DnowLoadCert(cert, "D1", "O1", ""), 36, "CHttpClient::DnowLoadCert");
    EXPECT_EQ(cert, "keep");
    std::string contact, certId;
    ExpectFailure(CHttpClient::DnowLoadCertOnGW("D1", "nope", contact, certId, cert), 36,
                  "CHttpClient::DnowLoadCertOnGW");
    EXPECT_EQ(cert, "keep");

    // "result" nested in an object yields the inner string; a syntax error after "SUCCESS" keeps
    // what came before.
    m_sim->ControlIssuance("nested");
    ASSERT_EQ(CHttpClient::DnowLoadCert(cert, "D1", "O1", "").ErrorCode(), 0);
    ExpectIssued(cert, m_rsaKey, "issuing-rsa-ca.pem", "rsa user");
    m_sim->ControlIssuance("broken");
    std::string again;
    ASSERT_EQ(CHttpClient::DnowLoadCert(again, "D1", "O1", "").ErrorCode(), 0);
    EXPECT_EQ(again, cert);
}

TEST_F(IssuanceTest, TransportFailuresAndTheEnvironmentSuffix) {
    // The suffix names the host: cloudsim's certificate covers example.cn but not example.nosuch.
    ZYKSetURL("cn");
    ASSERT_EQ(CHttpClient::RequestCert(m_p10, "D1", "n", "1", "2", "3", "12", "O1", "", "", "")
                  .ErrorCode(),
              0);
    ZYKSetURL("nosuch");
    ExpectFailure(CHttpClient::RequestCert(m_p10, "D1", "n", "1", "2", "3", "12", "O1", "", "", ""),
                  34, "CHttpClient::RequestCert");
    std::string pub = "p", enc = "e", key = "k";
    ExpectFailure(CHttpClient::DnowLoadDoubleCert("D1", pub, enc, key), 34,
                  "CHttpClient::DnowLoadDoubleCert");
    EXPECT_EQ(pub + enc + key, "pek");
}

// The SM2 private key the envelope carries, unwrapped with the holder's signing key.
softkey::Pkey OpenSm2Envelope(const std::string& envelope, EVP_PKEY* signKey) {
    if (envelope.size() < sizeof(ENVELOPEDKEYBLOB)) return softkey::Pkey();
    ENVELOPEDKEYBLOB env;
    std::memcpy(&env, envelope.data(), sizeof env);
    softkey::Sm2Cipher wrapped;
    std::memcpy(wrapped.x, env.ECCCipherBlob.XCoordinate + 32, 32);
    std::memcpy(wrapped.y, env.ECCCipherBlob.YCoordinate + 32, 32);
    std::memcpy(wrapped.hash, env.ECCCipherBlob.HASH, 32);
    const unsigned char* cipher = reinterpret_cast<const unsigned char*>(envelope.data()) +
                                  offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) +
                                  offsetof(ECCCIPHERBLOB, Cipher);
    wrapped.cipher.assign(cipher, cipher + env.ECCCipherBlob.CipherLen);
    softkey::Bytes session, scalar;
    if (!softkey::Sm2Decrypt(signKey, wrapped, session) || session.size() != 16 ||
        !softkey::Sm4EcbDecrypt(session.data(), env.cbEncryptedPriKey, 64, scalar))
        return softkey::Pkey();
    return softkey::Sm2PrivateFromScalar(scalar.data() + 32);
}

TEST_F(IssuanceTest, DoubleCertificatesForAnSm2RequestBuiltByVornic) {
    EVP_PKEY* signKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    std::string p10 = Sm2Request(signKey, "CN=\xD5\xC5\xC8\xFD,C=CN,O=org1");
    ASSERT_FALSE(p10.empty());
    std::string order = "SM2-1";
    ASSERT_EQ(CHttpClient::RequestDoubleCert(p10, "SMDEV", order).ErrorCode(), 0);
    std::string pub, enc, key;
    ASSERT_EQ(CHttpClient::DnowLoadDoubleCert("SMDEV", pub, enc, key).ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastBody(), "{\"deviceId\":\"SMDEV\"}");
    ExpectIssued(pub, signKey, "issuing-sm2-ca.pem", "\xE5\xBC\xA0\xE4\xB8\x89");

    // The enveloped key opens with the signing key and is the encryption certificate's key.
    X509* encCert = ParseCert(enc);
    ASSERT_NE(encCert, nullptr);
    softkey::Pkey encKey = OpenSm2Envelope(DerOf(key), signKey);
    ASSERT_TRUE(encKey);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(encCert), encKey.get()), 1);
    X509_free(encCert);

    // Without "encKey" the call fails but hands out the two certificates it received.
    m_sim->ControlIssuance("noenckey");
    std::string pub2, enc2, key2 = "old";
    ExpectFailure(CHttpClient::DnowLoadDoubleCert("SMDEV", pub2, enc2, key2), 36,
                  "CHttpClient::DnowLoadDoubleCert");
    EXPECT_EQ(pub2, pub);
    EXPECT_EQ(enc2, enc);
    EXPECT_EQ(key2, "");
    EVP_PKEY_free(signKey);
}

TEST_F(IssuanceTest, DoubleCertificatesForAnRsaRequestCarryTheRsaEnvelope) {
    std::string order = "R-1";
    ASSERT_EQ(CHttpClient::RequestDoubleCert(m_p10, "RDEV", order).ErrorCode(), 0);
    std::string pub, enc, key;
    ASSERT_EQ(CHttpClient::DnowLoadDoubleCert("RDEV", pub, enc, key).ErrorCode(), 0);
    ExpectIssued(pub, m_rsaKey, "issuing-rsa-ca.pem", "rsa user");
    // The session key is wrapped for the signing key: the first 256 bytes decrypt with it.
    std::string envelope = DerOf(key);
    ASSERT_GT(envelope.size(), 256u);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(m_rsaKey, nullptr);
    ASSERT_EQ(EVP_PKEY_decrypt_init(ctx), 1);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    unsigned char session[256];
    size_t sessionLen = sizeof session;
    EXPECT_EQ(EVP_PKEY_decrypt(ctx, session, &sessionLen,
                               reinterpret_cast<const unsigned char*>(envelope.data()), 256),
              1);
    EXPECT_EQ(sessionLen, 16u);
    EVP_PKEY_CTX_free(ctx);
    X509* encCert = ParseCert(enc);
    ASSERT_NE(encCert, nullptr);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(encCert), m_rsaKey), 0);
    X509_free(encCert);
}

TEST_F(IssuanceTest, IssuedCertificatesAreKnownToTheStatusServiceUntilRevoked) {
    std::string order = "S-1";
    ASSERT_EQ(CHttpClient::RequestDoubleCert(m_p10, "SDEV", order).ErrorCode(), 0);
    std::string pub, enc, key;
    ASSERT_EQ(CHttpClient::DnowLoadDoubleCert("SDEV", pub, enc, key).ErrorCode(), 0);
    // Both the signing and the encryption certificate were issued by the simulator's channel.
    EXPECT_EQ(CHttpClient::CheckCertValidity("01", pub, "RSA"), 2);
    EXPECT_EQ(CHttpClient::GetCertStatusMsg("01", pub, "RSA"), "证书状态正常");
    EXPECT_EQ(CHttpClient::CheckCertValidity("02", enc, "RSA"), 2);

    CHttp http;
    std::string response;
    ASSERT_EQ(http.Post(m_sim->Url("/_control?status=revoke"), {"Content-Type: text/plain"}, pub,
                        response),
              0);
    ASSERT_EQ(response, "ok\n");
    EXPECT_EQ(CHttpClient::CheckCertValidity("01", pub, "RSA"), 4);
    EXPECT_EQ(CHttpClient::GetCertStatusMsg("01", pub, "RSA"), "证书已吊销");
    EXPECT_EQ(CHttpClient::CheckCertValidity("02", enc, "RSA"), 2);

    // A certificate the issuing CA signed but the channel never handed out is unknown until
    // the control path registers it; the issuing CAs count as the simulator's own.
    EVP_PKEY* caKey = test_support::LoadPemKey(m_state + "/issuing-rsa-ca.key");
    ASSERT_NE(caKey, nullptr);
    test_support::CertSpec spec;
    spec.serial = {0x42};
    spec.issuerCN = "Cloudsim Issuing CA RSA";
    spec.issuerC = "CN";
    spec.issuerO = "Cloudsim";
    X509* other = test_support::MakeCertificate(spec, m_rsaKey, caKey);
    EVP_PKEY_free(caKey);
    ASSERT_NE(other, nullptr);
    unsigned char* der = nullptr;
    int len = i2d_X509(other, &der);
    std::string otherBase64 = Base64Of(der, static_cast<size_t>(len));
    OPENSSL_free(der);
    X509_free(other);
    EXPECT_EQ(CHttpClient::CheckCertValidity("03", otherBase64, "RSA"), 1);
    response.clear();
    ASSERT_EQ(http.Post(m_sim->Url("/_control?status=register"), {"Content-Type: text/plain"},
                        otherBase64, response),
              0);
    EXPECT_EQ(response, "ok\n");
    EXPECT_EQ(CHttpClient::CheckCertValidity("03", otherBase64, "RSA"), 2);
}

TEST_F(IssuanceTest, DeeplyNestedBodiesAndAnswersAreRefusedWithoutExhaustingTheStack) {
    const std::string deep(200000, '[');
    CHttp http;
    std::string response;
    ASSERT_EQ(http.Post(m_sim->Url("/private/ukey/order/download"), {"Content-Type: application/json"}, deep,
                        response),
              0);
    EXPECT_NE(response.find("body is not a JSON object"), std::string::npos) << response;

    EXPECT_EQ(cloud::IssuanceAnswer(deep).Get("result"), "");
    // What came before the nesting is kept, as before any syntax error.
    EXPECT_EQ(cloud::IssuanceAnswer("{\"result\":\"ok\",\"x\":" + deep).Get("result"), "ok");
    // The simulator still serves.
    std::string order = "N-1";
    EXPECT_EQ(CHttpClient::RequestDoubleCert(m_p10, "NDEV", order).ErrorCode(), 0);
}

}  // namespace
