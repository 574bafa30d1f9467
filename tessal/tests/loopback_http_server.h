// A small HTTP(S) server on 127.0.0.1 for one test: fixed answers per path, or none at all.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// A socket listening on 127.0.0.1 with this backlog; `port` receives its port. Throws on failure.
int ListenOnLoopback(int backlog, int& port);

// An http URL on a loopback port where nobody listens.
std::string UnusedLoopbackUrl(const std::string& path);

class LoopbackHttpServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        bool hang = false;  // read the request, then never answer
        int together = 0;   // held until this many requests for the path wait, then all answered
    };

    // Plain HTTP; with a certificate and key file (PEM), HTTPS.
    LoopbackHttpServer(const std::string& certFile = "", const std::string& keyFile = "");
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    void Set(const std::string& path, const Reply& reply);
    // "http://127.0.0.1:PORT" (or https) followed by `path`.
    std::string Url(const std::string& path) const;
    int Requests(const std::string& path);
    // The head (request line and header lines) of the last request for `path`.
    std::string LastHead(const std::string& path);

private:
    void Serve();
    void Handle(int fd);
    void Answer(int fd, SSL* tls, const Reply& reply);

    int m_listener = -1;
    int m_port = 0;
    SSL_CTX* m_tls = nullptr;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::map<std::string, Reply> m_replies;
    std::map<std::string, int> m_counts;
    std::map<std::string, std::string> m_heads;
    std::vector<int> m_held;  // connections left unanswered
    std::map<std::string, std::vector<std::pair<int, SSL*>>> m_waiting;  // requests held to be answered together
    std::thread m_thread;
};

}  // namespace test_support
