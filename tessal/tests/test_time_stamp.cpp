// Time-stamps from the simulated time service, checked by the openssl command line.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ts.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include <set>
#include <thread>
#include <vector>

#include "cloudsim_rig.h"
#include "test_support.h"
#include "tessal/http.h"
#include "tessal/result.h"
#include "tessal/time_stamp.h"
#include "cloud/time_stamp_query.h"

using test_support::CloudSim;

class TimeStampTestAccess {
public:
    static CResult Query(ByteArray& data, ByteArray& query, const std::string& alg) {
        return TimeStamp::CreateTSAQuery(data, query, alg);
    }
    static CResult Token(ByteArray& response, ByteArray& token) { return TimeStamp::GetTSFromResp(response, token); }
    // OpenSSL's request for `data`, without a nonce.
    static TS_REQ* OpenSslQuery(const std::string& data, const EVP_MD* md) {
        BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        TS_REQ* req = TimeStamp::create_query(bio, nullptr, md, nullptr, 1, 1);
        BIO_free(bio);
        return req;
    }
};

namespace {

const char kServiceMessage[] = "未能从配置的时间戳服务器地址上获取时间戳";

TS_REQ* ParseQuery(const ByteArray& query) {
    const unsigned char* p = query.data();
    return d2i_TS_REQ(nullptr, &p, query.length());
}

class TimeStampTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = test_support::MakeTempDir("timestamp-");
        m_sim.reset(new CloudSim(m_dir + "/state"));
    }
    // Writes the token and the data, then asks `openssl ts -verify` about them.
    int OpenSslVerify(const ByteArray& token, const std::string& data) {
        std::string tokenFile = m_dir + "/token.der", dataFile = m_dir + "/data.bin";
        FILE* f = fopen(tokenFile.c_str(), "wb");
        fwrite(token.data(), 1, static_cast<size_t>(token.length()), f);
        fclose(f);
        f = fopen(dataFile.c_str(), "wb");
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
        std::string command = "openssl ts -verify -token_in -in " + tokenFile + " -data " + dataFile + " -CAfile " +
                              m_sim->CaFile() + " -untrusted " + m_sim->TsaCertFile() + " > /dev/null 2>&1";
        return system(command.c_str());
    }
    std::string m_dir;
    std::unique_ptr<CloudSim> m_sim;
};

TEST_F(TimeStampTest, TokensForRsaAndSm2VerifyWithOpenSsl) {
    std::string signature = "the signature value\x01\x02";
    ByteArray data(signature.data(), static_cast<int>(signature.size()));
    ByteArray token;
    ASSERT_EQ(TimeStamp::GetTimeStamp(data, token, "RSA").ErrorCode(), 0) << ZYKGetLastError();
    EXPECT_EQ(m_sim->LastServicePath(), "/timestamp/get");
    EXPECT_EQ(OpenSslVerify(token, signature), 0);
    EXPECT_NE(OpenSslVerify(token, signature + "x"), 0);

    ByteArray sm2Token;
    ASSERT_EQ(TimeStamp::GetTimeStamp(data, sm2Token, "SM2").ErrorCode(), 0) << ZYKGetLastError();
    EXPECT_EQ(m_sim->LastServicePath(), "/timestamp/sm2time");
    EXPECT_EQ(OpenSslVerify(sm2Token, signature), 0);

    ByteArray lower;
    ASSERT_EQ(TimeStamp::GetTimeStamp(data, lower, "sm2").ErrorCode(), 0);
    EXPECT_EQ(m_sim->LastServicePath(), "/timestamp/get");
}

TEST_F(TimeStampTest, RequestsUseTheRightDigestAndEightByteNonces) {
    ByteArray data("same data", 9);
    std::set<std::string> nonces;
    for (const char* alg : {"RSA", "SM2", "sm2"}) {
        for (int i = 0; i < 20; ++i) {
            ByteArray query;
            ASSERT_EQ(TimeStampTestAccess::Query(data, query, alg).ErrorCode(), 0);
            TS_REQ* req = ParseQuery(query);
            ASSERT_NE(req, nullptr);
            EXPECT_EQ(TS_REQ_get_version(req), 1);
            EXPECT_EQ(TS_REQ_get_cert_req(req), 1);
            EXPECT_EQ(TS_REQ_get_policy_id(req), nullptr);
            X509_ALGOR* algo = TS_MSG_IMPRINT_get_algo(TS_REQ_get_msg_imprint(req));
            int expected = std::string(alg) == "SM2" ? NID_sm3 : NID_sha1;
            EXPECT_EQ(OBJ_obj2nid(algo->algorithm), expected) << alg;
            ASSERT_NE(algo->parameter, nullptr);
            EXPECT_EQ(algo->parameter->type, V_ASN1_NULL);
            const ASN1_INTEGER* nonce = TS_REQ_get_nonce(req);
            unsigned char* der = nullptr;
            int len = i2d_ASN1_INTEGER(nonce, &der);
            EXPECT_EQ(len, 10);  // tag, length 8, eight content bytes
            EXPECT_EQ(der[1], 8);
            EXPECT_LT(der[2], 0x80);
            nonces.insert(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(len)));
            OPENSSL_free(der);
            TS_REQ_free(req);
        }
    }
    EXPECT_EQ(nonces.size(), 60u);  // the same data differs only in its nonces
}

// The request written directly against OpenSSL's objects encoded by i2d_TS_REQ, for several
// digests, inputs and nonces (the smallest and largest first bytes included).
TEST(TimeStampQuery, DirectRequestIsByteForByteOpenSslsEncoding) {
    const std::string large(100000, 'x');
    const unsigned char nonces[][cloud::kTimeStampNonceLength] = {
        {0x01, 0, 0, 0, 0, 0, 0, 0}, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x42, 0x80, 0, 0xFF, 1, 2, 3, 4}};
    int compared = 0;
    for (const EVP_MD* md : {cloud::TimeStampDigest(false), cloud::TimeStampDigest(true), EVP_sha256(), EVP_sha512()}) {
        for (const std::string& data : {std::string(), std::string("signature value\0\x01", 17), large}) {
            for (const auto& nonce : nonces) {
                TS_REQ* req = TimeStampTestAccess::OpenSslQuery(data, md);
                ASSERT_NE(req, nullptr);
                ASN1_INTEGER* n = ASN1_INTEGER_new();
                ASSERT_EQ(ASN1_STRING_set(n, nonce, sizeof nonce), 1);
                ASSERT_EQ(TS_REQ_set_nonce(req, n), 1);
                ASN1_INTEGER_free(n);
                unsigned char* expected = nullptr;
                int length = i2d_TS_REQ(req, &expected);
                ASSERT_GT(length, 0);
                ASN1_OCTET_STRING* imprint = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(req));
                ByteArray ours = cloud::TimeStampQueryDer(md, ASN1_STRING_get0_data(imprint),
                                                          static_cast<size_t>(ASN1_STRING_length(imprint)), nonce);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(ours.data()), static_cast<size_t>(ours.length())),
                          std::string(reinterpret_cast<char*>(expected), static_cast<size_t>(length)))
                    << EVP_MD_get0_name(md) << ", " << data.size() << " bytes, nonce " << int(nonce[0]);
                OPENSSL_free(expected);
                TS_REQ_free(req);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 36);
}

// What the request of a whole input holds: the digest of exactly that input, also when empty.
TEST(TimeStampQuery, RequestForDataCarriesItsDigestAndRefusesWhatDoesNotFit) {
    for (bool sm2 : {false, true}) {
        for (const std::string& data : {std::string(), std::string(70000, '\x5a')}) {
            ByteArray bytes(data.data(), static_cast<int>(data.size()));
            ByteArray query = cloud::TimeStampQueryFor(bytes, sm2);
            TS_REQ* req = ParseQuery(query);
            ASSERT_NE(req, nullptr);
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned int digestLength = 0;
            ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest, &digestLength, sm2 ? EVP_sm3() : EVP_sha1(), nullptr), 1);
            ASN1_OCTET_STRING* imprint = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(req));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(imprint)),
                                  static_cast<size_t>(ASN1_STRING_length(imprint))),
                      std::string(reinterpret_cast<char*>(digest), digestLength));
            TS_REQ_free(req);
        }
    }
    const unsigned char nonce[cloud::kTimeStampNonceLength] = {1};
    const unsigned char digest[EVP_MAX_MD_SIZE + 1] = {};
    EXPECT_TRUE(cloud::TimeStampQueryDer(EVP_sha1(), digest, 0, nonce).IsEmpty());
    EXPECT_TRUE(cloud::TimeStampQueryDer(EVP_sha1(), digest, sizeof digest, nonce).IsEmpty());
    EXPECT_TRUE(cloud::TimeStampQueryDer(nullptr, digest, 20, nonce).IsEmpty());
}

// Requests made on several threads at once: each well formed, no nonce drawn twice.
TEST(TimeStampQuery, ThreadsMakingRequestsAtOnceGetSoundOnes) {
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&made, t] {
            ByteArray data("thread data", 11);
            for (int i = 0; i < kEach; ++i) {
                ByteArray query = cloud::TimeStampQueryFor(data, (i + t) % 2 == 0);
                made[t].emplace_back(reinterpret_cast<const char*>(query.data()), static_cast<size_t>(query.length()));
            }
        });
    for (std::thread& thread : threads) thread.join();
    std::set<std::string> distinct;
    for (const auto& queries : made)
        for (const std::string& query : queries) {
            ByteArray bytes(query.data(), static_cast<int>(query.size()));
            TS_REQ* req = ParseQuery(bytes);
            EXPECT_NE(req, nullptr);
            TS_REQ_free(req);
            distinct.insert(query);
        }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
}

// Nonces come from a block of random bytes drawn ahead; a forked child must not hand out the
// rest of its parent's block.
TEST(TimeStampQuery, AForkedChildSendsNoncesOfItsOwn) {
    using Nonce = std::array<unsigned char, cloud::kTimeStampNonceLength>;
    auto draw = [] {
        unsigned char nonce[cloud::kTimeStampNonceLength];
        Nonce out{};
        if (cloud::DrawTimeStampNonce(nonce)) std::copy(std::begin(nonce), std::end(nonce), out.begin());
        return out;
    };
    ASSERT_NE(draw(), Nonce{});  // the block is drawn: the next nonces are in the parent's memory
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Nonce nonce = draw();
        _exit(write(pipeEnds[1], nonce.data(), nonce.size()) == static_cast<ssize_t>(nonce.size()) ? 0 : 1);
    }
    close(pipeEnds[1]);
    Nonce fromChild{};
    ssize_t got = read(pipeEnds[0], fromChild.data(), fromChild.size());
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(got, static_cast<ssize_t>(fromChild.size()));
    Nonce fromParent = draw();
    EXPECT_NE(fromChild, Nonce{});
    EXPECT_NE(fromChild, fromParent);
    EXPECT_LT(fromChild[0], 0x80);
}

TEST_F(TimeStampTest, GarbageRejectionsAndSilenceBecomeTheServiceMessage) {
    ByteArray data("x", 1);
    ByteArray token;
    m_sim->Control("garbage");
    CResult garbage = TimeStamp::GetTimeStamp(data, token, "RSA");
    EXPECT_EQ(garbage.ErrorCode(), 999);
    EXPECT_EQ(garbage.GetErrorMsg(), kServiceMessage);
    EXPECT_EQ(ZYKGetLastError(), kServiceMessage);
    EXPECT_TRUE(token.IsEmpty());

    m_sim->Control("reject");
    EXPECT_EQ(TimeStamp::GetTimeStamp(data, token, "SM2").ErrorCode(), 999);
    EXPECT_TRUE(token.IsEmpty());

    // The steps' own codes.
    ByteArray notDer("not der", 7);
    EXPECT_EQ(TimeStampTestAccess::Token(notDer, token).ErrorCode(), 43);
    EXPECT_EQ(ERR_peek_error(), 0UL) << "the decoder's errors stay behind for later OpenSSL callers";
    m_sim->Control("reject");
    ByteArray query, response;
    ASSERT_EQ(TimeStampTestAccess::Query(data, query, "RSA").ErrorCode(), 0);
    ASSERT_EQ(CHttpClient::GetTimeStamp(query, response, "RSA").ErrorCode(), 0);
    EXPECT_EQ(TimeStampTestAccess::Token(response, token).ErrorCode(), 44);
    EXPECT_EQ(ERR_peek_error(), 0UL);

    m_sim->Stop();
    ByteArray none;
    EXPECT_EQ(CHttpClient::GetTimeStamp(query, none, "RSA").ErrorCode(), 42);
    EXPECT_EQ(ZYKGetLastError(), "获取时间戳失败");
    EXPECT_EQ(TimeStamp::GetTimeStamp(data, token, "RSA").ErrorCode(), 999);
}

}  // namespace
