// The gateway's certificate status check against the cloud simulator.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloudsim_rig.h"
#include "test_support.h"
#include "tessal/certificates.h"
#include "tessal/http.h"

using test_support::CertSpec;
using test_support::CloudSim;

namespace {

using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

const char kStatusPath[] = "/cert/ukey/app/check/cert/validity";

struct Verdict {
    int validity;
    std::string message;
};

class CertStatusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The logger opens its file once per process.
        s_logPath = test_support::MakeTempDir("status-log-") + "/ZYKUKeyDriver.log";
        setenv("TESSAL_LOG_FILE", s_logPath.c_str(), 1);
    }
    void SetUp() override {
        unsetenv("TESSAL_TLS_INSECURE");
        unsetenv("TESSAL_GATEWAY_PREFIX");
        ZYKSetURL("com");
        m_state = test_support::MakeTempDir("status-") + "/state";
        m_sim.reset(new CloudSim(m_state));
        m_logStart = test_support::ReadFile(s_logPath).size();
    }

    // A test control request to the simulator's status service.
    std::string Control(const std::string& query, const std::string& body = "") {
        CHttp http;
        std::string response;
        EXPECT_EQ(http.Post(m_sim->Url("/_control?status=" + query), {"Content-Type: text/plain"}, body, response), 0);
        return response;
    }
    void ForceAnswer(const std::string& answer, int count = 2) {
        ASSERT_EQ(Control("answer&count=" + std::to_string(count), answer), "ok\n");
    }

    Verdict Ask(X509* cert, const std::string& serialNo = "1A2B", const std::string& algorithm = "RSA") {
        std::string base64 = Base64Encode(test_support::Der(cert));
        return {CHttpClient::CheckCertValidity(serialNo, base64, algorithm),
                CHttpClient::GetCertStatusMsg(serialNo, base64, algorithm)};
    }
    Verdict AskAnything() {
        CertPtr cert(Leaf("anything", 0x77, m_otherCaKey.get(), "Other CA"), X509_free);
        return Ask(cert.get());
    }

    // What the library logged since the test began (a rolled-over file is read from its start).
    std::string Log() {
        std::string text = test_support::ReadFile(s_logPath);
        return text.size() >= m_logStart ? text.substr(m_logStart) : text;
    }
    void ExpectLogged(const std::string& line) {
        EXPECT_NE(Log().find("] DEBUG - " + line + "\n"), std::string::npos) << line << "\n--- log:\n" << Log();
    }

    static X509* Leaf(const std::string& cn, unsigned char serial, EVP_PKEY* issuerKey, const std::string& issuerCN,
                      const std::string& issuerC = "", const std::string& issuerO = "") {
        CertSpec spec;
        spec.subjectCN = cn;
        spec.serial = {serial, 0x5A};
        spec.issuerCN = issuerCN;
        spec.issuerC = issuerC;
        spec.issuerO = issuerO;
        return test_support::MakeCertificate(spec, s_leafKey.get(), issuerKey);
    }
    static X509* Ca(const std::string& cn, unsigned char serial, EVP_PKEY* key, EVP_PKEY* issuerKey,
                    const std::string& issuerCN) {
        CertSpec spec;
        spec.subjectCN = cn;
        spec.serial = {serial};
        spec.issuerCN = issuerCN;
        spec.caExtensions = true;
        return test_support::MakeCertificate(spec, key, issuerKey);
    }
    // A certificate of the simulator's own CA, as its issuing channel would make it.
    X509* ChannelCertificate(unsigned char serial) {
        KeyPtr caKey(test_support::LoadPemKey(m_state + "/ca.key"), EVP_PKEY_free);
        return Leaf("Channel Holder", serial, caKey.get(), "Cloudsim Test CA", "CN", "Cloudsim");
    }
    void Trust(const std::string& name, const std::vector<X509*>& certs) {
        mkdir((m_state + "/trust").c_str(), 0700);
        std::string pem;
        for (X509* c : certs) pem += test_support::Pem(c);
        test_support::WriteText(m_state + "/trust/" + name, pem);
    }

    static std::string s_logPath;
    static KeyPtr s_leafKey;
    KeyPtr m_otherCaKey{test_support::NewRsaKey(), EVP_PKEY_free};
    std::string m_state;
    std::unique_ptr<CloudSim> m_sim;
    size_t m_logStart = 0;
};

std::string CertStatusTest::s_logPath;
KeyPtr CertStatusTest::s_leafKey{test_support::NewRsaKey(), EVP_PKEY_free};

TEST_F(CertStatusTest, ChannelCertificatesAreNormalUntilRevoked) {
    CertPtr cert(ChannelCertificate(0x10), X509_free);
    std::string pem = test_support::Pem(cert.get());
    // Signed by the simulator's CA but never handed out by its channel: no known issuer.
    EXPECT_EQ(Ask(cert.get()).validity, 1);

    ASSERT_EQ(Control("register", pem), "ok\n");
    Verdict normal = Ask(cert.get());
    EXPECT_EQ(normal.validity, 2);
    EXPECT_EQ(normal.message, "证书状态正常");

    ASSERT_EQ(Control("revoke", pem), "ok\n");
    Verdict revoked = Ask(cert.get());
    EXPECT_EQ(revoked.validity, 4);
    EXPECT_EQ(revoked.message, "证书已吊销");

    // The records outlive a restart of the simulator.
    m_sim.reset();
    m_sim.reset(new CloudSim(m_state));
    EXPECT_EQ(Ask(cert.get()).validity, 4);

    // Only the simulator's own certificates can be registered as issued.
    CertPtr foreign(Leaf("Foreign", 0x11, m_otherCaKey.get(), "Cloudsim Test CA", "CN", "Cloudsim"), X509_free);
    EXPECT_NE(Control("register", test_support::Pem(foreign.get())), "ok\n");
    EXPECT_NE(Control("register", "not a certificate"), "ok\n");
}

TEST_F(CertStatusTest, CertificatesOfTrustedCasNeedTheirRoot) {
    KeyPtr rootKey(test_support::NewRsaKey(), EVP_PKEY_free), subKey(test_support::NewRsaKey(), EVP_PKEY_free);
    CertPtr root(Ca("Trusted Root", 1, rootKey.get(), rootKey.get(), "Trusted Root"), X509_free);
    CertPtr sub(Ca("Trusted Sub CA", 2, subKey.get(), rootKey.get(), "Trusted Root"), X509_free);
    CertPtr leaf(Leaf("Trusted Holder", 0x20, subKey.get(), "Trusted Sub CA"), X509_free);
    CertPtr stranger(Leaf("Stranger", 0x21, m_otherCaKey.get(), "Other CA"), X509_free);

    Trust("sub.pem", {sub.get()});
    Verdict rootAbsent = Ask(leaf.get());
    EXPECT_EQ(rootAbsent.validity, 0);
    EXPECT_EQ(rootAbsent.message, "根证书不存在");

    Trust("root.pem", {root.get()});
    Verdict unknown = Ask(leaf.get());
    EXPECT_EQ(unknown.validity, 3);
    EXPECT_EQ(unknown.message, "证书状态未知");

    Verdict untrusted = Ask(stranger.get());
    EXPECT_EQ(untrusted.validity, 1);
    EXPECT_EQ(untrusted.message, "证书不是由可信CA签发");

    // A revocation record turns any certificate's status to revoked.
    ASSERT_EQ(Control("revoke", Base64Encode(test_support::Der(leaf.get()))), "ok\n");
    EXPECT_EQ(Ask(leaf.get()).validity, 4);
}

TEST_F(CertStatusTest, TheRequestCarriesOneCertificateInMemberOrder) {
    CertPtr cert(ChannelCertificate(0x30), X509_free);
    std::string base64 = Base64Encode(test_support::Der(cert.get()));
    CHttpClient::CheckCertValidity("0A\"\\\x01", base64, "SM2\t证书");
    EXPECT_EQ(Control("last"),
              "{\"validitySource\":\"UKEY\",\"validityRequestList\":[{\"serialNo\":\"0A\\\"\\\\\\u0001\","
              "\"algorithm\":\"SM2\\t证书\",\"certBase64\":\"" + base64 +
                  "\",\"verifyTypeList\":[\"IS_ZYK_ISSUE\",\"CHECK_ROOT\",\"CHECK_OCSP\"]}]}");
}

TEST_F(CertStatusTest, EveryEnvironmentSignsWithThePairTheGatewayExpects) {
    CertPtr cert(ChannelCertificate(0x40), X509_free);
    ASSERT_EQ(Control("register", test_support::Pem(cert.get())), "ok\n");
    for (const char* env : {"com", "cn", "me"}) {
        // The simulator's TLS certificate does not name *.example.me.
        if (std::string(env) == "me") setenv("TESSAL_TLS_INSECURE", "1", 1);
        ZYKSetURL(env);
        EXPECT_EQ(Ask(cert.get()).validity, 2) << env;
    }
    ZYKSetURL("com");
    unsetenv("TESSAL_TLS_INSECURE");

    // A gateway holding another secret refuses the signature.
    ASSERT_EQ(Control("secret&value=AnotherSecretOfThirtyCharacter"), "ok\n");
    Verdict refused = Ask(cert.get());
    EXPECT_EQ(refused.validity, 0);
    EXPECT_EQ(refused.message, "UNKNOWN");
    ExpectLogged("/cert/validity error msg: application signature mismatch");
    ASSERT_EQ(Control("secret&value="), "ok\n");
    EXPECT_EQ(Ask(cert.get()).validity, 2);

    // Requests without the signature headers are refused as well.
    CHttp http;
    std::string response;
    ASSERT_EQ(http.Posts(m_sim->Url(kStatusPath), {"Content-Type: application/json"}, "{}", response, nullptr), 0);
    EXPECT_NE(response.find("\"message\":\"missing application signature headers\""), std::string::npos) << response;
}

TEST_F(CertStatusTest, VerdictRulesOnForcedAnswers) {
    struct Case {
        const char* answer;
        int validity;
        const char* message;
    };
    const Case cases[] = {
        {R"({"code":0,"result":[]})", 3, "UNKNOWN"},
        {R"({"code":0})", 3, "UNKNOWN"},
        {R"({"result":[{"zykChannelIssue":true,"trustCaIssue":false,"existRootCert":false,)"
         R"("certCurrentStatus":"REVOKE","detailMessage":"吊销"}]})", 4, "吊销"},
        {R"({"code":0,"result":[{"zykChannelIssue":false,"detailMessage":"x"}]})", 1, "x"},
        {R"({"code":0,"result":[{"trustCaIssue":true,"existRootCert":false,"certCurrentStatus":"NORMAL"}]})", 0,
         "UNKNOWN"},
        {R"({"code":0,"result":[{"trustCaIssue":true,"existRootCert":true,"certCurrentStatus":"NORMAL"}]})", 2,
         "UNKNOWN"},
        {R"({"code":0,"result":[{"zykChannelIssue":true,"certCurrentStatus":"normal"}]})", 0, "UNKNOWN"},
        {R"({"code":0,"result":[{"zykChannelIssue":true,"detailMessage":"first"},)"
         R"({"zykChannelIssue":true,"certCurrentStatus":"NORMAL","detailMessage":"second"}]})", 2, "first"},
        {R"({"code":0,"result":[{"zykChannelIssue":true},{"zykChannelIssue":false}]})", 1, "UNKNOWN"},
        {R"({"code":0.0,"result":[{"zykChannelIssue":true,"certCurrentStatus":"UNKNOWN","detailMessage":""}]})", 3,
         ""},
        // Members of other types count as absent.
        {R"({"code":0,"result":[{"zykChannelIssue":"true","trustCaIssue":1}]})", 1, "UNKNOWN"},
        {R"({"code":0,"result":[{"zykChannelIssue":true,"certCurrentStatus":7,"detailMessage":["x"]}]})", 3,
         "UNKNOWN"},
        {R"({"code":0,"result":[{"zykChannelIssue":true,"certCurrentStatus":null},)"
         R"({"zykChannelIssue":true,"certCurrentStatus":"REVOKE"}]})", 4, "UNKNOWN"},
        {R"({"code":0,"result":{"zykChannelIssue":true,"certCurrentStatus":"REVOKE"}})", 3, "UNKNOWN"},
        {R"({"code":0,"result":"REVOKE"})", 3, "UNKNOWN"},
        {R"({"code":0,"result":[5,{"zykChannelIssue":true}]})", 1, "UNKNOWN"},
        {R"({"code":0,"result":[{"zykChannelIssue":true,"certCurrentStatus":"NORMAL\u0000x"}]})", 0, "UNKNOWN"},
    };
    for (const Case& c : cases) {
        ForceAnswer(c.answer);
        Verdict v = AskAnything();
        EXPECT_EQ(v.validity, c.validity) << c.answer;
        EXPECT_EQ(v.message, c.message) << c.answer;
        ExpectLogged(std::string("/cert/validity response:") + c.answer);
    }
}

TEST_F(CertStatusTest, ServiceErrorsAndCodesOfOtherTypesGiveNoVerdict) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"code":500,"message":"服务繁忙","result":[{"zykChannelIssue":true,"certCurrentStatus":"NORMAL"}]})",
         "服务繁忙"},
        {R"({"code":-1})", ""},
        {R"({"code":"0","message":"code as text","result":[]})", "code as text"},
        {R"({"code":null,"result":[]})", ""},
        {R"({"code":false,"message":{"text":"nested"},"result":[]})", ""},
        {R"({"code":4294967296,"message":"large","result":[]})", "large"},
        {R"({"code":0.5,"message":"half","result":[]})", "half"},
    };
    for (const auto& c : cases) {
        ForceAnswer(c.first);
        Verdict v = AskAnything();
        EXPECT_EQ(v.validity, 0) << c.first;
        EXPECT_EQ(v.message, "UNKNOWN") << c.first;
        ExpectLogged(std::string("/cert/validity error msg: ") + c.second);
    }
}

TEST_F(CertStatusTest, UnreadableAnswersAndTransportFailures) {
    std::string deep = "{\"code\":0,\"result\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    for (const std::string& answer : {std::string("this is not JSON"), std::string("[1,2]"), std::string("7"),
                                      std::string("{\"code\":0}garbage"), std::string(""), deep}) {
        ForceAnswer(answer);
        Verdict v = AskAnything();
        EXPECT_EQ(v.validity, 0) << answer.substr(0, 40);
        EXPECT_EQ(v.message, "UNKNOWN") << answer.substr(0, 40);
        ExpectLogged("/cert/validity Parse Failed");
    }

    m_sim->Stop();
    Verdict v = AskAnything();
    EXPECT_EQ(v.validity, 0);
    EXPECT_EQ(v.message, "UNKNOWN");
    ExpectLogged("/cert/validity Posts Failed");
}

}  // namespace

namespace {

// The exports answer certificates of the maker's own CA and test certificates themselves, and
// ask the gateway about the others.
TEST_F(CertStatusTest, TheExportsAskTheCloudOnlyWhenTheyCannotTell) {
    CertPtr channel(ChannelCertificate(0x30), X509_free);
    ASSERT_EQ(Control("register", test_support::Pem(channel.get())), "ok\n");
    std::string channelBase64 = Base64Encode(test_support::Der(channel.get()));
    EXPECT_EQ(ZYKCheckValidityOnCloud(channelBase64), 2);
    EXPECT_EQ(ZYKGetCertStatusMagOnCloud(channelBase64), "证书状态正常");
    std::string lastAsked = Control("last");
    EXPECT_NE(lastAsked.find(channelBase64.substr(0, 64)), std::string::npos) << lastAsked;

    CertPtr own(Leaf("Holder", 0x31, m_otherCaKey.get(), "LanTrove SM2 CA"), X509_free);
    std::string ownBase64 = Base64Encode(test_support::Der(own.get()));
    EXPECT_EQ(ZYKCheckValidityOnCloud(ownBase64), 5);
    EXPECT_EQ(ZYKGetCertStatusMagOnCloud(ownBase64), "【测试证书】");
    CertPtr shecaTest(Leaf("测试用户", 0x32, m_otherCaKey.get(), "SHECA G2"), X509_free);
    EXPECT_EQ(ZYKGetCertStatusMagOnCloud(Base64Encode(test_support::Der(shecaTest.get()))), "【测试证书】");
    EXPECT_EQ(Control("last"), lastAsked);  // none of them reached the gateway

    CertPtr sheca(Leaf("Zhang San", 0x33, m_otherCaKey.get(), "SHECA G2"), X509_free);
    std::string shecaBase64 = Base64Encode(test_support::Der(sheca.get()));
    ZYKGetCertStatusMagOnCloud(shecaBase64);
    EXPECT_NE(Control("last").find(shecaBase64.substr(0, 64)), std::string::npos);
    EXPECT_EQ(ZYKGetCertStatusMagOnCloud(""), "UNKNOWN");  // no certificate: the cloud knows nothing either
}

}  // namespace
