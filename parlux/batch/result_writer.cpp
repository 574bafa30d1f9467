#include "batch/result_writer.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace parlux::batch {

ResultWriter::ResultWriter(int fd) : m_fd(fd) {
    // Interruptions are for the thread that supervises the jobs.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, sig);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    m_thread = std::thread([this] { Loop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ResultWriter::~ResultWriter() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ResultWriter::Write(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending += line;
        m_pending += '\n';
    }
    m_wake.notify_one();
}

void ResultWriter::Loop() {
    bool broken = false;  // the reader has gone: what follows is dropped
    for (;;) {
        std::string text;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_finished || !m_pending.empty(); });
            if (m_pending.empty()) return;
            text.swap(m_pending);
        }
        for (size_t done = 0; !broken && done < text.size();) {
            ssize_t n = write(m_fd, text.data() + done, text.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno != EINTR)
                broken = true;
        }
    }
}

}  // namespace parlux::batch
