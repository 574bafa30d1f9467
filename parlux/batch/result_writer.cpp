#include "batch/result_writer.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace parlux::batch {
namespace {

constexpr size_t kMaxBacklogBytes = 1 << 20;

}  // namespace

ResultWriter::ResultWriter(int fd) : m_fd(fd) {
    // Interruptions are for the thread that supervises the jobs.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, sig);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    m_thread = std::thread([this] { Loop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ResultWriter::~ResultWriter() { Finish(); }

void ResultWriter::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void ResultWriter::Write(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_error.load() != 0) return;
        m_pending += line;
        m_pending += '\n';
        m_unwritten += line.size() + 1;
    }
    m_wake.notify_one();
}

bool ResultWriter::Backlogged() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unwritten > kMaxBacklogBytes;
}

bool ResultWriter::WriteOut(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(m_fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_unwritten -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking descriptor the caller gave us: wait until the reader takes some.
            struct pollfd out = {m_fd, POLLOUT, 0};
            poll(&out, 1, -1);
        } else if (n < 0 && errno != EINTR) {
            m_error = errno;
            return false;
        }
    }
    return true;
}

void ResultWriter::Loop() {
    for (;;) {
        std::string text;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_finished || !m_pending.empty(); });
            if (m_pending.empty()) return;
            text.swap(m_pending);
        }
        if (!WriteOut(text)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.clear();  // never delivered: the batch stops on the error
            m_unwritten = 0;
            return;
        }
    }
}

}  // namespace parlux::batch
