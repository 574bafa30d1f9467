// OCSP queries against a real responder (openssl ocsp) and against answers replayed on loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ocsp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloud/ocsp.h"
#include "loopback_http_server.h"
#include "revocation_rig.h"
#include "test_support.h"

using test_support::LoopbackHttpServer;
using test_support::OcspResponderProcess;
using test_support::TestCa;

namespace {

// Index of the responder: 1001 good, 1002 revoked; 1003 is not listed ("unknown").
std::string ResponderIndex() { return test_support::IndexLine('V', "1001") + test_support::IndexLine('R', "1002"); }

std::string AiaLine(const std::string& url) { return "authorityInfoAccess = OCSP;URI:" + url; }

class OcspTestBase {
protected:
    OcspTestBase() {
        m_log = test_support::MakeTempDir("ocsp-log-") + "/ZYKUKeyDriver.log";
        setenv("TESSAL_LOG_FILE", m_log.c_str(), 1);
    }
    std::string Log() { return test_support::ReadFile(m_log); }
    // A responder for `ca` signing with its file prefix `signer` ("ca", "signer", "noeku",
    // "rogue").
    std::unique_ptr<OcspResponderProcess> StartResponder(const TestCa& ca, const std::string& signer) {
        test_support::WriteText(ca.File("responder.index"), ResponderIndex());
        return std::make_unique<OcspResponderProcess>(ca.File("responder.index"), ca.File("ca.pem"), ca.File(signer),
                                                      ca.Sm2());
    }
    int Query(const TestCa& ca, const std::string& leaf, std::string& response) {
        return OCSP::OCSP_Query(leaf, ca.CertBase64(), response);
    }

    std::string m_log;
};

class OcspResponderTest : public OcspTestBase, public ::testing::TestWithParam<const char*> {};

TEST_P(OcspResponderTest, TheIssuerSigningItsOwnAnswers) {
    TestCa ca(GetParam());
    auto responder = StartResponder(ca, "ca");
    std::string response;
    EXPECT_EQ(Query(ca, ca.Leaf("1001", {AiaLine(responder->Url("/ocsp"))}), response), 0) << Log();
    ByteArray der = Base64Decode(response);
    const unsigned char* p = der.data();
    OCSP_RESPONSE* parsed = d2i_OCSP_RESPONSE(nullptr, &p, der.length());
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(OCSP_response_status(parsed), OCSP_RESPONSE_STATUS_SUCCESSFUL);
    OCSP_RESPONSE_free(parsed);

    EXPECT_EQ(Query(ca, ca.Leaf("1002", {AiaLine(responder->Url("/ocsp"))}), response), 2);
    EXPECT_EQ(Query(ca, ca.Leaf("1003", {AiaLine(responder->Url("/ocsp"))}), response), 1);
}

TEST_P(OcspResponderTest, ADelegatedResponderIsTrustedOnlyWithTheOcspSigningUsage) {
    TestCa ca(GetParam());
    std::string response;
    {
        auto delegated = StartResponder(ca, "signer");
        EXPECT_EQ(Query(ca, ca.Leaf("1001", {AiaLine(delegated->Url("/a"))}), response), 0) << Log();
    }
    auto withoutUsage = StartResponder(ca, "noeku");
    EXPECT_EQ(Query(ca, ca.Leaf("1001", {AiaLine(withoutUsage->Url("/b"))}), response), 1);
    EXPECT_NE(Log().find("OCSP responder certificate lacks the OCSP signing usage"), std::string::npos) << Log();
    EXPECT_EQ(Query(ca, ca.Leaf("1002", {AiaLine(withoutUsage->Url("/b"))}), response), 2);
}

TEST_P(OcspResponderTest, AnAnswerSignedByAnotherKeyIsNotGoodButRevokedStands) {
    TestCa ca(GetParam());
    auto forger = StartResponder(ca, "rogue");  // same name as the issuer, another key
    std::string response;
    EXPECT_EQ(Query(ca, ca.Leaf("1001", {AiaLine(forger->Url("/ocsp"))}), response), 1);
    EXPECT_FALSE(response.empty());
    EXPECT_EQ(Query(ca, ca.Leaf("1002", {AiaLine(forger->Url("/ocsp"))}), response), 2);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, OcspResponderTest, ::testing::Values("rsa", "sm2"));

// Answers of the real responder replayed by a loopback server, and answers made here.
class OcspAnswerTest : public OcspTestBase, public ::testing::Test {
protected:
    OcspAnswerTest() : m_ca("rsa") {}

    // The responder's DER answer for leaf-SERIAL.pem, fetched with the openssl client.
    std::string FetchAnswer(const std::string& serial, bool nonce) {
        auto responder = StartResponder(m_ca, "ca");
        std::string out = m_ca.File("answer-" + serial + ".der");
        std::string command = "openssl ocsp -issuer " + m_ca.File("ca.pem") + " -cert " +
                              m_ca.File("leaf-" + serial + ".pem") + " -url " + responder->Url("/") +
                              " -noverify -respout " + out + (nonce ? "" : " -no_nonce") + " > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return test_support::ReadFile(out);
    }
    // A "good" answer for leaf-1001 signed by the CA, with these update times relative to now.
    std::string MadeAnswer(long thisUpdateOffset, long nextUpdateOffset) {
        X509* leaf = test_support::LoadPemCert(m_ca.File("leaf-1001.pem"));
        X509* issuer = test_support::LoadPemCert(m_ca.File("ca.pem"));
        EVP_PKEY* key = test_support::LoadPemKey(m_ca.File("ca.key"));
        OCSP_BASICRESP* basic = OCSP_BASICRESP_new();
        ASN1_TIME* thisUpdate = X509_gmtime_adj(nullptr, thisUpdateOffset);
        ASN1_TIME* nextUpdate = X509_gmtime_adj(nullptr, nextUpdateOffset);
        OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), leaf, issuer);
        OCSP_basic_add1_status(basic, id, V_OCSP_CERTSTATUS_GOOD, 0, nullptr, thisUpdate, nextUpdate);  // copies id
        OCSP_CERTID_free(id);
        EXPECT_EQ(OCSP_basic_sign(basic, issuer, key, EVP_sha256(), nullptr, 0), 1);
        OCSP_RESPONSE* response = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic);
        unsigned char* der = nullptr;
        int length = i2d_OCSP_RESPONSE(response, &der);
        std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(length));
        OPENSSL_free(der);
        OCSP_RESPONSE_free(response);
        OCSP_BASICRESP_free(basic);
        ASN1_TIME_free(thisUpdate);
        ASN1_TIME_free(nextUpdate);
        EVP_PKEY_free(key);
        X509_free(issuer);
        X509_free(leaf);
        return bytes;
    }
    int QueryServed(const std::string& answer, std::string& response) {
        m_server.Set("/ocsp", {200, answer, false});
        return Query(m_ca, m_ca.Leaf("1001", {AiaLine(m_server.Url("/ocsp"))}), response);
    }

    TestCa m_ca;
    LoopbackHttpServer m_server;
};

TEST_F(OcspAnswerTest, ANonceIsCheckedWhenTheAnswerCarriesOne) {
    m_ca.Leaf("1001", {});
    std::string withNonce = FetchAnswer("1001", true);
    std::string withoutNonce = FetchAnswer("1001", false);
    std::string response;
    EXPECT_EQ(QueryServed(withNonce, response),
              1);  // a replayed answer: its nonce is another request's
    EXPECT_NE(Log().find("OCSP response nonce differs from the request's"), std::string::npos) << Log();
    EXPECT_EQ(QueryServed(withoutNonce, response), 0);
    EXPECT_EQ(Base64Decode(response).length(), static_cast<int>(withoutNonce.size()));
}

TEST_F(OcspAnswerTest, AStatusForAnotherCertificateOnlyIsUnknown) {
    m_ca.Leaf("1002", {});
    std::string response;
    EXPECT_EQ(QueryServed(FetchAnswer("1002", false), response), 1);
    EXPECT_NE(Log().find("ERROR: No Status found.\n"), std::string::npos) << Log();
}

TEST_F(OcspAnswerTest, UpdateTimesHoldWithinAFewMinutesOfSkew) {
    m_ca.Leaf("1001", {});
    std::string response;
    EXPECT_EQ(QueryServed(MadeAnswer(-2 * 86400, -86400), response), 1);  // expired
    EXPECT_NE(Log().find("OCSP response outside its thisUpdate/nextUpdate period"), std::string::npos);
    EXPECT_EQ(QueryServed(MadeAnswer(3600, 86400), response), 1);  // from the future
    EXPECT_EQ(QueryServed(MadeAnswer(120, 86400), response), 0);   // two minutes ahead: skew
    EXPECT_EQ(QueryServed(MadeAnswer(-3600, -120), response), 0);
}

TEST_F(OcspAnswerTest, AResponderErrorStatusIsUnknownWithItsAnswerKept) {
    const std::string tryLater("\x30\x03\x0a\x01\x03", 5);
    std::string response;
    EXPECT_EQ(QueryServed(tryLater, response), 1);
    EXPECT_EQ(response, "MAMKAQM=");
    EXPECT_NE(Log().find("Responder Error"), std::string::npos);
    response = "as passed";
    EXPECT_EQ(QueryServed("not an OCSP response", response), 1);
    EXPECT_EQ(response, "as passed");
}

TEST_F(OcspAnswerTest, ASuccessfulAnswerWithoutABasicResponseIsUnknownWithItsAnswerKept) {
    const std::string noBytes("\x30\x03\x0a\x01\x00", 5);
    // responseBytes of another type (the nonce's identifier) around an empty OCTET STRING
    const std::string otherType("\x30\x14\x0a\x01\x00\xa0\x0f\x30\x0d\x06\x09\x2b\x06\x01\x05\x05\x07\x30\x01\x02\x04\x00",
                                22);
    for (const std::string& answer : {noBytes, otherType}) {
        std::string response;
        EXPECT_EQ(QueryServed(answer, response), 1);
        EXPECT_EQ(Base64Decode(response).length(), static_cast<int>(answer.size()));
    }
    EXPECT_NE(Log().find("Error parsing response"), std::string::npos) << Log();
}

TEST_F(OcspAnswerTest, ACertificateWithoutResponderAsksNobody) {
    std::string response = "as passed";
    EXPECT_EQ(Query(m_ca, m_ca.Leaf("1001", {}), response), 1);
    EXPECT_EQ(response, "as passed");
    EXPECT_NE(Log().find("uri parse error"), std::string::npos);
    EXPECT_EQ(Query(m_ca, m_ca.Leaf("1001", {AiaLine("ldap://127.0.0.1/cn=responder")}), response), 1);
    EXPECT_NE(Log().find("Error parsing URL"), std::string::npos);
    EXPECT_EQ(OCSP::OCSP_Query("bm90IGEgY2VydA==", m_ca.CertBase64(), response), 1);
    EXPECT_NE(Log().find("X509 parse error"), std::string::npos);
    EXPECT_EQ(OCSP::OCSP_Query(m_ca.CertBase64(), "", response), 1);
    EXPECT_NE(Log().find("issuer_x509 parse error"), std::string::npos);
}

TEST_F(OcspAnswerTest, AnHttpsResponderIsReachedThroughTls) {
    LoopbackHttpServer tlsServer(m_ca.File("ca.pem"), m_ca.File("ca.key"));
    m_ca.Leaf("1001", {});
    tlsServer.Set("/tls", {200, FetchAnswer("1001", false), false});
    std::string response;
    EXPECT_EQ(Query(m_ca, m_ca.Leaf("1001", {AiaLine(tlsServer.Url("/tls"))}), response), 0) << Log();
    EXPECT_EQ(tlsServer.Requests("/tls"), 1);
}

TEST_F(OcspAnswerTest, AResponderThatNeverAnswersIsLeftAfterTheTimeLimit) {
    m_server.Set("/ocsp", {200, "", true});
    std::string response = "as passed";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Query(m_ca, m_ca.Leaf("1001", {AiaLine(m_server.Url("/ocsp"))}), response), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(response, "as passed");
    EXPECT_NE(Log().find("timed out after 10 s"), std::string::npos) << Log();
    EXPECT_NE(Log().find("process_responder error"), std::string::npos);
}

TEST_F(OcspAnswerTest, AConnectionThatNeverCompletesIsLeftAfterTheTimeLimit) {
    // A listener whose accept queue is full drops further connection attempts unanswered.
    int port = 0;
    int listener = test_support::ListenOnLoopback(0, port);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ocsp";
    std::string response;
    EXPECT_EQ(Query(m_ca, m_ca.Leaf("1001", {AiaLine(url)}), response), 1);
    EXPECT_NE(Log().find("timed out after 10 s"), std::string::npos) << Log();
    for (int fd : fillers) close(fd);
    close(listener);
}

TEST_F(OcspAnswerTest, ConsoleLinesFollowTheConsoleSetting) {
    // A port nobody listens on: the connection is refused.
    std::string leaf = m_ca.Leaf("1001", {AiaLine(test_support::UnusedLoopbackUrl("/"))});
    std::string response;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(m_ca, leaf, response), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error connecting BIO\nError querying OCSP responder\n");
    setenv("TESSAL_CONSOLE", "0", 1);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Query(m_ca, leaf, response), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    unsetenv("TESSAL_CONSOLE");
}

}  // namespace
