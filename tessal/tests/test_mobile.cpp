// Mobile signing sessions against the cloud simulator's mobile seal service and phone.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <rapidjson/document.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "api/encodings.h"
#include "cloud/cloud_hosts.h"
#include "cloud/credentials/credential_selection.h"
#include "cloudsim_rig.h"
#include "test_support.h"
#include "tessal/http.h"

using test_support::CloudSim;

namespace {

struct Recorded {
    std::string path, nonce, body;
    bool accepted;
};

class MobileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_logPath = test_support::MakeTempDir("mobile-log-") + "/ZYKUKeyDriver.log";
        setenv("TESSAL_LOG_FILE", s_logPath.c_str(), 1);
    }
    void SetUp() override {
        unsetenv("TESSAL_GATEWAY_PREFIX");
        CHttpClient::setMobileUrl("com");
        m_dir = test_support::MakeTempDir("mobile-");
        m_sim.reset(new CloudSim(m_dir + "/state"));
    }
    void TearDown() override { CHttpClient::setMobileUrl("com"); }

    std::string Control(const std::string& query, const std::string& body = "") {
        CHttp http;
        std::string response;
        EXPECT_EQ(http.Post(m_sim->Url("/_control?mobile=" + query), {"Content-Type: text/plain"}, body, response), 0);
        return response;
    }
    // The next `count` requests to `path` get `answer` instead of the service's own.
    void Force(const std::string& path, const std::string& answer, int count = 1) {
        ASSERT_EQ(Control("answer&path=" + path + "&count=" + std::to_string(count), answer), "ok\n");
    }
    // Every mobile request cloudsim received, in order; only those to `path` when it is given.
    std::vector<Recorded> Requests(const std::string& path = "") {
        rapidjson::Document doc;
        doc.Parse(Control("requests").c_str());
        std::vector<Recorded> out;
        if (!doc.IsObject() || !doc.HasMember("result") || !doc["result"].IsArray()) {
            ADD_FAILURE() << "cloudsim did not list its requests";
            return out;
        }
        for (const auto& r : doc["result"].GetArray())
            if (path.empty() || path == r["path"].GetString())
                out.push_back({r["path"].GetString(), r["nonce"].GetString(),
                               std::string(r["body"].GetString(), r["body"].GetStringLength()), r["accepted"].GetBool()});
        return out;
    }

    // Opens a session and uploads the SHA-256 digest of `content`; returns signSid and signActionId.
    std::pair<std::string, std::string> StartSession(const std::string& content,
                                                     const std::map<std::string, long>& seals) {
        std::string response;
        EXPECT_TRUE(CHttpClient::generateSignsid("biz-1", response, "Contract", "Zhang San", "doc-9", 42L, "zhang",
                                                 "https://cb.example.com/x", "https://pv.example.com/y", "10.0.0.1"));
        rapidjson::Document doc;
        doc.Parse(response.c_str());
        EXPECT_TRUE(doc.IsObject() && doc.HasMember("result")) << response;
        if (!doc.IsObject() || !doc.HasMember("result")) return {};
        std::string signSid = doc["result"]["signSid"].GetString();
        unsigned char digest[SHA256_DIGEST_LENGTH];
        SHA256(reinterpret_cast<const unsigned char*>(content.data()), content.size(), digest);
        std::string actionId;
        EXPECT_TRUE(CHttpClient::uploadDigest(signSid, Base64Encode(ByteArray(digest, sizeof digest)), seals, false,
                                              actionId, "contract.pdf"));
        return {signSid, actionId};
    }

    std::string Log() { return test_support::ReadFile(s_logPath); }

    // `openssl cms -verify` of the Base64 PKCS#7 over `content` against cloudsim's CA.
    bool OpensslVerifies(const std::string& p7Base64, const std::string& content) {
        ByteArray der = Base64Decode(p7Base64);
        std::string p7Path = m_dir + "/result.p7", contentPath = m_dir + "/content.bin";
        std::ofstream(p7Path, std::ios::binary).write(reinterpret_cast<const char*>(der.data()), der.length());
        std::ofstream(contentPath, std::ios::binary) << content;
        std::string command = "openssl cms -verify -binary -inform DER -in " + p7Path + " -content " + contentPath +
                              " -CAfile " + m_sim->CaFile() + " -out /dev/null 2>" + m_dir + "/verify.err";
        return std::system(command.c_str()) == 0;
    }

    static std::string s_logPath;
    std::string m_dir;
    std::unique_ptr<CloudSim> m_sim;
};

std::string MobileTest::s_logPath;

TEST_F(MobileTest, WholeSessionEndsInAPkcs7ThatOpensslVerifies) {
    ASSERT_EQ(Control("signAfter&polls=3"), "ok\n");
    const std::string content = "the contract's text\n";
    auto session = StartSession(content, {{"seal-b", 1}, {"seal-a", 2}});
    ASSERT_FALSE(session.second.empty());

    std::string status;
    ASSERT_TRUE(CHttpClient::getSignStatus(session.first, status));
    EXPECT_NE(status.find("\"status\":\"WAITING\""), std::string::npos) << status;

    std::string p7;
    ASSERT_TRUE(CHttpClient::getSignResult(session.first, session.second, p7));
    EXPECT_EQ(Requests("/get-signResult").size(), 3u);  // the phone signed at the third poll
    EXPECT_TRUE(OpensslVerifies(p7, content)) << test_support::ReadFile(m_dir + "/verify.err");
    EXPECT_FALSE(OpensslVerifies(p7, content + "tampered"));

    std::string finished = "prefix:";
    ASSERT_TRUE(CHttpClient::finishSign(session.first, finished));
    EXPECT_EQ(finished.rfind("prefix:{", 0), 0u) << "answers are appended";
    EXPECT_NE(finished.find("\"status\":\"FINISHED\""), std::string::npos) << finished;
    std::string seals;
    ASSERT_TRUE(CHttpClient::getSealslist(session.first, seals));
    EXPECT_NE(seals.find("\"sealName\":\"seal-a\",\"count\":2"), std::string::npos) << seals;
    EXPECT_NE(seals.find("\"sealName\":\"seal-b\",\"count\":1"), std::string::npos) << seals;

    // Bodies as the service received them: members in order, the seal counts as an object.
    std::vector<Recorded> uploads = Requests("/upload-digest");
    ASSERT_EQ(uploads.size(), 1u);
    std::string body = uploads[0].body;
    EXPECT_EQ(body.rfind("{\"signSid\":\"" + session.first + "\",\"signDigest\":\"", 0), 0u) << body;
    EXPECT_NE(body.find("\",\"fileName\":\"contract.pdf\",\"sealCountMap\":{\"seal-a\":2,\"seal-b\":1},"
                        "\"borderSign\":\"false\"}"),
              std::string::npos)
        << body;
    EXPECT_EQ(Requests("/get-signResult")[0].body,
              "{\"signSid\":\"" + session.first + "\",\"signActionId\":\"" + session.second + "\"}");
    EXPECT_EQ(Requests("/finish-sign")[0].body, "{\"signSid\":\"" + session.first + "\"}");
}

TEST_F(MobileTest, SessionBodiesAreExactAndValuesAreEscaped) {
    std::string response;
    ASSERT_TRUE(CHttpClient::generateSignsid("biz-1", response, "Contract", "Zhang San", "doc-9", -42L, "zhang",
                                             "https://cb.example.com/x", "https://pv.example.com/y", "10.0.0.1"));
    EXPECT_EQ(Requests("/generate-signSid").at(0).body,
              "{\"bizId\":\"biz-1\",\"title\":\"Contract\",\"signName\":\"Zhang San\",\"docId\":\"doc-9\","
              "\"customerId\":\"-42\",\"userName\":\"zhang\",\"callbackUrl\":\"https://cb.example.com/x\","
              "\"previewUrl\":\"https://pv.example.com/y\",\"signIp\":\"10.0.0.1\"}");

    // A title that would otherwise close the string and add a member of its own.
    const std::string title = "x\",\"signName\":\"attacker\" \\ \"合同\"\t";
    ASSERT_TRUE(CHttpClient::generateSignsid("biz-2", response, title, "Zhang San", "doc-9", 7L, "zhang", "", "", ""));
    rapidjson::Document doc;
    doc.Parse(Requests("/generate-signSid").at(1).body.c_str());
    ASSERT_TRUE(doc.IsObject());
    EXPECT_EQ(doc.MemberCount(), 9u);
    EXPECT_EQ(std::string(doc["title"].GetString()), title);
    EXPECT_EQ(std::string(doc["signName"].GetString()), "Zhang San");
}

TEST_F(MobileTest, SealCountMapsOfNoneOneAndTwoEntries) {
    std::string response;
    ASSERT_TRUE(CHttpClient::generateSignsid("b", response, "t", "s", "d", 1L, "u", "", "", ""));
    rapidjson::Document doc;
    doc.Parse(response.c_str());
    std::string signSid = doc["result"]["signSid"].GetString();
    std::string digest = Base64Encode(ByteArray(std::string(32, 'd').data(), 32));
    std::string result;
    ASSERT_TRUE(CHttpClient::uploadDigest(signSid, digest, {}, true, result, "a.pdf"));
    ASSERT_TRUE(CHttpClient::uploadDigest(signSid, digest, {{"only", -5}}, false, result, "a.pdf"));
    ASSERT_TRUE(CHttpClient::uploadDigest(signSid, digest, {{"z", 1}, {"B", 2}}, false, result, "a.pdf"));
    std::vector<Recorded> uploads = Requests("/upload-digest");
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_NE(uploads[0].body.find("\"sealCountMap\":{},\"borderSign\":\"true\"}"), std::string::npos)
        << uploads[0].body;
    EXPECT_NE(uploads[1].body.find("\"sealCountMap\":{\"only\":-5},\"borderSign\":\"false\"}"), std::string::npos)
        << uploads[1].body;
    EXPECT_NE(uploads[2].body.find("\"sealCountMap\":{\"B\":2,\"z\":1},"), std::string::npos) << uploads[2].body;
}

TEST_F(MobileTest, UploadDigestReadsOnlyANumericCodeAndAStringResult) {
    struct Case {
        const char* answer;
        bool accepted;
        const char* result;
    } cases[] = {
        {"{\"code\":0,\"message\":\"SUCCESS\",\"result\":\"action-1\"}", true, "action-1"},
        {"{\"result\":\"no code\"}", true, "no code"},
        {"{\"code\":7,\"result\":\"action-1\"}", false, "before"},
        {"{\"code\":0.5,\"result\":\"action-1\"}", false, "before"},
        {"{\"code\":0,\"result\":5}", false, "before"},
        {"{\"code\":0,\"result\":{\"signActionId\":\"x\"}}", false, "before"},
        {"{\"code\":0}", false, "before"},
        {"{\"code\":\"1\",\"result\":\"code of another type\"}", true, "code of another type"},
        {"[\"result\"]", false, "before"},
        {"not json", false, "before"},
        {"", false, "before"},
    };
    for (const Case& c : cases) {
        Force("/upload-digest", c.answer);
        std::string result = "before";
        EXPECT_EQ(CHttpClient::uploadDigest("sid", "ZGlnZXN0", {{"a", 1}}, false, result, "f.pdf"), c.accepted)
            << c.answer;
        EXPECT_EQ(result, c.result) << c.answer;
    }
}

TEST_F(MobileTest, SignResultAnswersOfOtherShapesArePolledPast) {
    ASSERT_EQ(Control("signAfter&polls=1"), "ok\n");
    auto session = StartSession("content", {{"a", 1}});
    // Empty, not an object, a message of another type, a lower-case message: each asks again.
    for (const char* answer : {"", "[1,2]", "{\"message\":5,\"code\":\"x\"}", "{\"message\":\"success\"}"})
        Force("/get-signResult", answer);
    std::string p7;
    ASSERT_TRUE(CHttpClient::getSignResult(session.first, session.second, p7));
    EXPECT_EQ(Requests("/get-signResult").size(), 5u);
    EXPECT_TRUE(OpensslVerifies(p7, "content")) << test_support::ReadFile(m_dir + "/verify.err");

    // "SUCCESS" without a usable "p7SignResult" ends the polling and leaves the caller's text.
    for (const char* answer : {"{\"message\":\"SUCCESS\",\"result\":{}}",
                               "{\"message\":\"SUCCESS\",\"result\":{\"p7SignResult\":17}}",
                               "{\"message\":\"SUCCESS\",\"result\":\"p7SignResult\"}"}) {
        Force("/get-signResult", answer);
        std::string kept = "kept";
        EXPECT_TRUE(CHttpClient::getSignResult(session.first, session.second, kept)) << answer;
        EXPECT_EQ(kept, "kept") << answer;
    }
    EXPECT_EQ(Requests("/get-signResult").size(), 8u);
}

TEST_F(MobileTest, SetMobileUrlSelectsTheEnvironmentAndItsCredentials) {
    CHttpClient::setMobileUrl("cn");
    EXPECT_EQ(CHttpClient::m_url, "cn");
    EXPECT_EQ(CHttpClient::m_mobileUrl, cloud::GatewayPrefix() + "cn/app/cert/mobileSeal");
    EXPECT_EQ(app_credentials::MobilePairFor(CHttpClient::m_mobileUrl), 3);
    CHttpClient::setMobileUrl(CHttpClient::m_url);  // the suffix passed as itself
    EXPECT_EQ(CHttpClient::m_url, "cn");

    // cloudsim picks the pair by the URL it was reached under and accepts only that one.
    std::string response;
    ASSERT_TRUE(CHttpClient::getSignStatus("none", response));
    EXPECT_NE(response.find("signSid unknown"), std::string::npos) << response;
    CHttp http;
    std::string refused;
    ASSERT_EQ(http.Posts(CHttpClient::m_mobileUrl + "/get/status", CHttpClient::getGWHeadInfo(), "{\"signSid\":\"x\"}",
                         refused, nullptr),
              0);
    EXPECT_NE(refused.find("\"code\":401"), std::string::npos) << refused;
    std::vector<Recorded> requests = Requests("/get/status");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].accepted);
    EXPECT_FALSE(requests[1].accepted);
}

// A service that accepts a poll and never answers ends the polling at its limit.
TEST_F(MobileTest, SignResultPollingEndsAtItsLimitAgainstAServiceThatNeverAnswers) {
    test_support::ScopedEnvironment limit("TESSAL_SIGN_RESULT_LIMIT_MS", "1000");
    // Any poll that is answered brings the signature.
    ASSERT_EQ(Control("signAfter&polls=1"), "ok\n");
    auto session = StartSession("content", {{"a", 1}});
    ASSERT_EQ(Control("hang&path=/get-signResult&count=1"), "ok\n");
    std::string p7 = "before";
    EXPECT_FALSE(CHttpClient::getSignResult(session.first, session.second, p7));
    EXPECT_EQ(p7, "before");
    EXPECT_EQ(Requests("/get-signResult").size(), 1u) << "no poll is made past the limit";
    std::string log = Log();
    size_t limitLine =
        log.find("] DEBUG - mobile getSignResult: no signature within the polling time limit\n");
    ASSERT_NE(limitLine, std::string::npos) << log;
    EXPECT_NE(log.find("] DEBUG - mobile getSignResult error\n", limitLine), std::string::npos);
}

// The one slow test: a phone that never signs costs 21 requests and 21 pauses of 300 ms.
TEST_F(MobileTest, SlowNeverSignedStopsAfterTwentyOnePollsWithFreshNonces) {
    ASSERT_EQ(Control("signAfter&polls=0"), "ok\n");
    auto session = StartSession("content", {{"a", 1}});
    std::string p7;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CHttpClient::getSignResult(session.first, session.second, p7));
    long long waitedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waitedMs, 21 * 300);
    RecordProperty("waited_ms", std::to_string(waitedMs));
    std::printf("getSignResult gave up after %lld ms\n", waitedMs);
    EXPECT_EQ(p7, "null");

    std::vector<Recorded> polls = Requests("/get-signResult");
    ASSERT_EQ(polls.size(), 21u);
    std::set<std::string> nonces;
    for (const Recorded& poll : polls) {
        EXPECT_TRUE(poll.accepted);
        nonces.insert(poll.nonce);
    }
    EXPECT_EQ(nonces.size(), 21u) << "every poll is signed afresh";
    std::string log = Log();
    size_t error = log.find("] DEBUG - mobile getSignResult error\n");
    ASSERT_NE(error, std::string::npos) << log;
    EXPECT_NE(log.find("\"p7SignResult\":\"null\"", error), std::string::npos) << "the last answer follows";
}

}  // namespace
