#include "loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>

namespace test_support {
namespace {

std::string StatusLine(int status) {
    return "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Error") + "\r\n";
}

}  // namespace

int ListenOnLoopback(int backlog, int& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string UnusedLoopbackUrl(const std::string& path) {
    int port = 0;
    close(ListenOnLoopback(1, port));
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

LoopbackHttpServer::LoopbackHttpServer(const std::string& certFile, const std::string& keyFile) {
    if (!certFile.empty()) {
        m_tls = SSL_CTX_new(TLS_server_method());
        if (!m_tls || SSL_CTX_use_certificate_file(m_tls, certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_tls, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("cannot set up the TLS server");
    }
    m_listener = ListenOnLoopback(16, m_port);
    m_thread = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_held) close(fd);
    for (const auto& path : m_waiting)
        for (const auto& request : path.second) {
            SSL_free(request.second);
            close(request.first);
        }
    close(m_listener);
    SSL_CTX_free(m_tls);
}

void LoopbackHttpServer::Set(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[path] = reply;
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

int LoopbackHttpServer::Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts[path];
}

std::string LoopbackHttpServer::LastHead(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_heads[path];
}

void LoopbackHttpServer::Serve() {
    while (!m_stop) {
        pollfd entry{m_listener, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0) continue;
        int fd = accept(m_listener, nullptr, nullptr);
        if (fd < 0) continue;
        timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        Handle(fd);
    }
}

void LoopbackHttpServer::Handle(int fd) {
    SSL* tls = nullptr;
    if (m_tls) {
        tls = SSL_new(m_tls);
        SSL_set_fd(tls, fd);
        if (SSL_accept(tls) != 1) {
            SSL_free(tls);
            close(fd);
            return;
        }
    }
    std::function<long(char*, size_t)> receive = [&](char* buffer, size_t size) -> long {
        return tls ? SSL_read(tls, buffer, static_cast<int>(size)) : read(fd, buffer, size);
    };
    std::string request;
    char buffer[4096];
    size_t headEnd;
    while ((headEnd = request.find("\r\n\r\n")) == std::string::npos) {
        long n = receive(buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    std::string head = request.substr(0, headEnd == std::string::npos ? request.size() : headEnd);
    size_t lengthAt = head.find("Content-Length: ");
    size_t bodyLength = lengthAt == std::string::npos ? 0 : std::strtoul(head.c_str() + lengthAt + 16, nullptr, 10);
    while (headEnd != std::string::npos && request.size() < headEnd + 4 + bodyLength) {
        long n = receive(buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    size_t pathStart = head.find(' ') + 1;
    std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
    Reply reply{404, "no such path", false};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counts[path];
        m_heads[path] = head;
        if (m_replies.count(path)) reply = m_replies[path];
    }
    if (reply.hang) {
        m_held.push_back(fd);
        if (tls) SSL_free(tls);  // the socket stays open; the session is not used again
        return;
    }
    if (reply.together > 1) {
        std::vector<std::pair<int, SSL*>>& waiting = m_waiting[path];
        waiting.emplace_back(fd, tls);
        if (static_cast<int>(waiting.size()) < reply.together) return;
        for (const auto& request : waiting) Answer(request.first, request.second, reply);
        waiting.clear();
        return;
    }
    Answer(fd, tls, reply);
}

void LoopbackHttpServer::Answer(int fd, SSL* tls, const Reply& reply) {
    std::string bytes = StatusLine(reply.status) + "Content-Type: application/octet-stream\r\nContent-Length: " +
                        std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body;
    if (tls) {
        SSL_write(tls, bytes.data(), static_cast<int>(bytes.size()));
        SSL_shutdown(tls);
        SSL_free(tls);
    } else if (write(fd, bytes.data(), bytes.size()) < 0) {
        // the client went away; nothing to tell it
    }
    close(fd);
}

}  // namespace test_support
