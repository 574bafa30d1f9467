// The HTTP transport against the cloud simulator on loopback.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "api/encodings.h"
#include "cloud/easy_handle_pool.h"
#include "cloudsim_rig.h"
#include "loopback_http_server.h"
#include "test_support.h"
#include "tessal/http.h"

using test_support::CloudSim;

namespace {

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("TESSAL_TLS_INSECURE");
        m_sim.reset(new CloudSim(test_support::MakeTempDir("cloudsim-") + "/state"));
    }
    rapidjson::Document Parse(const std::string& json) {
        rapidjson::Document doc;
        doc.Parse(json.c_str());
        EXPECT_TRUE(doc.IsObject()) << json;
        return doc;
    }
    std::vector<std::string> Headers(const rapidjson::Document& doc) {
        std::vector<std::string> out;
        for (const auto& h : doc["headers"].GetArray()) out.emplace_back(h.GetString());
        return out;
    }
    bool HasHeader(const rapidjson::Document& doc, const std::string& line) {
        for (const std::string& h : Headers(doc))
            if (h == line) return true;
        return false;
    }
    std::unique_ptr<CloudSim> m_sim;
};

TEST_F(HttpTest, RequestsCarryTheirHeadersAndBodies) {
    CHttp http;
    // The library's own URLs reach the simulator through the connect-to redirection.
    std::string response = "old:";
    ASSERT_EQ(http.Get("https://openapi.example.com/echo", {"X-Test: one", "X-Other: two"}, response), 0);
    ASSERT_EQ(response.compare(0, 4, "old:"), 0);  // appended, not cleared
    rapidjson::Document get = Parse(response.substr(4));
    EXPECT_STREQ(get["method"].GetString(), "GET");
    EXPECT_TRUE(HasHeader(get, "X-Test: one"));
    EXPECT_TRUE(HasHeader(get, "X-Other: two"));
    EXPECT_TRUE(HasHeader(get, "Host: openapi.example.com"));

    response.clear();
    ASSERT_EQ(http.Get("https://openapi.example.com/echo", {}, response), 0);
    for (const std::string& h : Headers(Parse(response))) EXPECT_EQ(h.find("X-Test"), std::string::npos);

    response.clear();
    ASSERT_EQ(http.Post("https://gateway.example.cn/echo", {"Content-Type: application/json"},
                        std::string("{\"a\":1}\0ignored", 15), response), 0);
    rapidjson::Document post = Parse(response);
    EXPECT_STREQ(post["method"].GetString(), "POST");
    EXPECT_EQ(Base64Decode(post["body"].GetString()).length(), 7);  // sent up to the first NUL

    response.clear();
    ASSERT_EQ(http.Posts("https://gateway.example.com/echo", {}, "text body", response, nullptr), 0);
    EXPECT_STREQ(Parse(response)["body"].GetString(), "dGV4dCBib2R5");

    response.clear();
    ASSERT_EQ(http.Posts("https://issuance.example.com/echo", {}, {{"name", "张三"}, {"id", "42"}}, response,
                         nullptr), 0);
    rapidjson::Document form = Parse(response);
    EXPECT_STREQ(form["fields"]["name"].GetString(), "张三");
    EXPECT_STREQ(form["fields"]["id"].GetString(), "42");

    const unsigned char binary[] = {0x30, 0x00, 0x01, 0xFF, 0x00};
    ByteArray bytesResponse;
    ASSERT_EQ(http.Posts("https://openapi.example.com/echo", {}, ByteArray(binary, 5ul), bytesResponse, nullptr), 0);
    std::string text(reinterpret_cast<const char*>(bytesResponse.data()), bytesResponse.length());
    ByteArray echoed = Base64Decode(Parse(text)["body"].GetString());
    ByteArray expected(binary, 5ul);
    EXPECT_TRUE(echoed == expected);
}

TEST_F(HttpTest, AnHttpErrorPageIsNotATransferFailure) {
    CHttp http;
    std::string response;
    EXPECT_EQ(http.Get("https://openapi.example.com/status/500", {}, response), 0);
    EXPECT_NE(response.find("error page"), std::string::npos);
    response.clear();
    EXPECT_EQ(http.Get("https://openapi.example.com/no-such-path", {}, response), 0);
}

TEST_F(HttpTest, PeersAreVerifiedUnlessATestRigOptsOut) {
    CHttp http;
    std::string response;
    unsetenv("TESSAL_CA_FILE");  // only the system store: the simulator's CA is unknown there
    EXPECT_EQ(http.Get("https://openapi.example.com/echo", {}, response), CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(http.Posts("https://openapi.example.com/echo", {}, "x", response, nullptr),
              CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(http.Gets("https://openapi.example.com/echo", {}, response, m_sim->CaFile().c_str()), CURLE_OK);
    std::string otherCa = std::string(TESSAL_BUILTIN_CERTS_DIR) + "/dev-standin-uca-root-g2.pem";
    EXPECT_EQ(http.Gets("https://openapi.example.com/echo", {}, response, otherCa.c_str()),
              CURLE_PEER_FAILED_VERIFICATION);
    setenv("TESSAL_CA_FILE", m_sim->CaFile().c_str(), 1);
    EXPECT_EQ(http.Get("https://openapi.example.com/echo", {}, response), 0);
    // The certificate names the library's hosts; another name fails even with the right CA.
    EXPECT_EQ(http.Get("https://openapi.elsewhere.test/echo", {}, response), CURLE_PEER_FAILED_VERIFICATION);
    unsetenv("TESSAL_CA_FILE");
    setenv("TESSAL_TLS_INSECURE", "1", 1);
    EXPECT_EQ(http.Get("https://openapi.elsewhere.test/echo", {}, response), 0);
    unsetenv("TESSAL_TLS_INSECURE");
}

TEST_F(HttpTest, EveryRequestHasAConnectionOfItsOwn) {
    CHttp http;
    auto clientPort = [&](const std::string& path) {
        std::string response;
        EXPECT_EQ(http.Get("https://openapi.example.com" + path, {}, response), 0);
        return Parse(response)["clientPort"].GetInt();
    };
    int first = clientPort("/echo");
    int second = clientPort("/echo?again");
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);
    // A request with another trust setting is verified afresh under it.
    std::string response;
    std::string otherCa = std::string(TESSAL_BUILTIN_CERTS_DIR) + "/dev-standin-uca-root-g2.pem";
    EXPECT_EQ(http.Gets("https://openapi.example.com/echo", {}, response, otherCa.c_str()),
              CURLE_PEER_FAILED_VERIFICATION);
    // The service going away is reported, and a new one is reached afresh.
    m_sim->Stop();
    EXPECT_EQ(http.Get("https://openapi.example.com/echo", {}, response), CURLE_COULDNT_CONNECT);
    m_sim.reset(new CloudSim(test_support::MakeTempDir("cloudsim-") + "/state"));
    EXPECT_GT(clientPort("/echo"), 0);
}

TEST_F(HttpTest, AKeptHandleStartsEveryRequestAfreshEvenAfterAFailedOne) {
    CHttp http;
    std::string response;
    ASSERT_EQ(http.Get("https://openapi.example.com/echo", {}, response), 0);
    size_t made = cloud::EasyHandlesMade();
    // A POST that fails its peer verification under its own CA file, with a header and a body...
    std::string otherCa = std::string(TESSAL_BUILTIN_CERTS_DIR) + "/dev-standin-uca-root-g2.pem";
    EXPECT_EQ(http.Posts("https://openapi.example.com/echo", {"X-Leak: yes"}, "leaked body", response,
                         otherCa.c_str()),
              CURLE_PEER_FAILED_VERIFICATION);
    // ...leaves nothing to the next request on the same handle: method, header, body, trust.
    response.clear();
    ASSERT_EQ(http.Get("https://openapi.example.com/echo", {}, response), 0);
    rapidjson::Document get = Parse(response);
    EXPECT_STREQ(get["method"].GetString(), "GET");
    for (const std::string& h : Headers(get)) EXPECT_EQ(h.find("X-Leak"), std::string::npos) << h;
    EXPECT_STREQ(get["body"].GetString(), "");
    // A form, then bytes: the second body is the bytes alone.
    response.clear();
    ASSERT_EQ(http.Posts("https://openapi.example.com/echo", {}, {{"field", "value"}}, response, nullptr), 0);
    ByteArray bytes;
    ASSERT_EQ(http.Posts("https://openapi.example.com/echo", {}, ByteArray("abc", 3), bytes, nullptr), 0);
    rapidjson::Document post = Parse(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.length()));
    EXPECT_STREQ(post["body"].GetString(), "YWJj");
    EXPECT_FALSE(post.HasMember("fields") && post["fields"].HasMember("field"));
    // All on the one kept handle.
    EXPECT_EQ(cloud::EasyHandlesMade(), made);
    EXPECT_EQ(cloud::IdleEasyHandles(), 1u);
}

TEST_F(HttpTest, ByteArrayPostsGiveUpAfterTenSeconds) {
    CHttp http;
    ByteArray response;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(http.Posts("https://openapi.example.com/hang", {}, ByteArray("q", 1), response, nullptr),
              CURLE_OPERATION_TIMEDOUT);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 9.0);
    EXPECT_LT(seconds, 20.0);
}

TEST_F(HttpTest, RequestsOnSeveralThreadsAndOneTimeInitialisation) {
    ASSERT_EQ(CHttpClient::InitCurl().ErrorCode(), 0);
    EXPECT_TRUE(CHttpClient::m_isInit);
    EXPECT_EQ(CHttpClient::InitCurl().ErrorCode(), 0);
    std::vector<int> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            CHttp http;
            for (int i = 0; i < 10; ++i) {
                std::string response;
                if (http.Get("https://openapi.example.com/echo", {}, response) == 0 && !response.empty()) ++ok[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ok, std::vector<int>(4, 10));

    EXPECT_EQ(CHttpClient::m_url, "com");
    ZYKSetURL("cn");
    EXPECT_EQ(CHttpClient::m_url, "cn");
    EXPECT_EQ(CHttpClient::m_mobileUrl, "https://gateway.example.com/app/cert/mobileSeal");
}

TEST(HttpHandles, RequestsOnSeveralThreadsRunAtOnceEachOnAHandleOfItsOwn) {
    unsetenv("TESSAL_CONNECT_TO");
    constexpr int kThreads = 4;
    test_support::LoopbackHttpServer server;
    // Answered only once all four wait at the same time: requests queued behind one another
    // would time out instead.
    test_support::LoopbackHttpServer::Reply together;
    together.body = "together";
    together.together = kThreads;
    server.Set("/together", together);
    std::vector<int> results(kThreads, -1);
    std::vector<std::string> answers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { results[t] = CHttp().Get(server.Url("/together"), {}, answers[t]); });
    for (auto& th : threads) th.join();
    EXPECT_EQ(results, std::vector<int>(kThreads, 0));
    EXPECT_EQ(answers, std::vector<std::string>(kThreads, "together"));
    EXPECT_EQ(server.Requests("/together"), kThreads);
    EXPECT_EQ(cloud::EasyHandlesMade(), static_cast<size_t>(kThreads));
    EXPECT_EQ(cloud::IdleEasyHandles(), static_cast<size_t>(kThreads));
    // A later request takes a kept handle.
    std::string answer;
    server.Set("/one", {200, "one", false});
    EXPECT_EQ(CHttp().Get(server.Url("/one"), {}, answer), 0);
    EXPECT_EQ(answer, "one");
    EXPECT_EQ(cloud::EasyHandlesMade(), static_cast<size_t>(kThreads));
}

// A plain HTTP server on loopback that answers each request with a body of `size` bytes, sent
// piece by piece (the server never holds the whole answer), until the client stops reading.
class BigAnswerServer {
public:
    explicit BigAnswerServer(size_t size) : m_size(size) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listen, 4);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~BigAnswerServer() {
        shutdown(m_listen, SHUT_RDWR);
        close(m_listen);
        m_thread.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    void Serve() {
        for (;;) {
            int client = accept(m_listen, nullptr, nullptr);
            if (client < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = read(client, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            std::string head =
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(m_size) + "\r\nConnection: close\r\n\r\n";
            const std::string piece(64 * 1024, 'x');
            bool open = SendAll(client, head.data(), head.size());
            for (size_t sent = 0; open && sent < m_size; sent += piece.size())
                open = SendAll(client, piece.data(), std::min(piece.size(), m_size - sent));
            close(client);
        }
    }
    static bool SendAll(int fd, const char* data, size_t size) {
        for (size_t sent = 0; sent < size;) {
            ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    size_t m_size;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

TEST(HttpLimits, AnswersPastTheirCapFailTheTransfer) {
    unsetenv("TESSAL_CONNECT_TO");
    CHttp http;
    std::string text;
    {
        BigAnswerServer server(3u << 20);  // under the 4 MiB cap of posted requests
        EXPECT_EQ(http.Post(server.Url(), {}, "{}", text), CURLE_OK);
        EXPECT_EQ(text.size(), 3u << 20);
    }
    {
        BigAnswerServer server(5u << 20);
        text.clear();
        EXPECT_EQ(http.Post(server.Url(), {}, "{}", text), CURLE_WRITE_ERROR);
        ByteArray bytes;
        EXPECT_EQ(http.Posts(server.Url(), {}, ByteArray("q", 1), bytes, nullptr), CURLE_WRITE_ERROR);
        EXPECT_LE(bytes.length(), 4 << 20);
        // GET (certificate revocation lists) takes up to 64 MiB.
        text.clear();
        EXPECT_EQ(http.Get(server.Url(), {}, text), CURLE_OK);
        EXPECT_EQ(text.size(), 5u << 20);
    }
}

// The peak resident size of this process so far, in KiB (VmHWM).
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    return -1;
}

TEST(HttpLimits, AGetAnswerPastItsCapFailsWithoutTakingItWhole) {
    unsetenv("TESSAL_CONNECT_TO");
    CHttp http;
    std::string text;
    const size_t announced = size_t(1) << 30;  // a 1 GiB revocation list
    BigAnswerServer server(announced);
    long before = PeakResidentKiB();
    ASSERT_GT(before, 0);
    EXPECT_EQ(http.Get(server.Url(), {}, text), CURLE_WRITE_ERROR);
    EXPECT_LE(text.size(), size_t(64) << 20);
    EXPECT_GT(text.size(), size_t(60) << 20);  // the cap, not some smaller limit, stopped it
    // What the transfer kept is bounded by the cap, not by the size of the answer.
    EXPECT_LT(PeakResidentKiB() - before, long(announced >> 10) / 2);
}

}  // namespace
