#include "batch/job_feed.h"

#include <unistd.h>

#include <cerrno>

#include "file_helpers.h"
#include "providers.h"

namespace parlux::batch {
namespace {

constexpr size_t kMaxLineBytes = 1 << 20;

}  // namespace

void JobFeed::Take(std::string line, std::deque<BatchJob*>& queue) {
    ++m_line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!m_overlong && line.find_first_not_of(" \t") == std::string::npos) return;  // no job
    auto* job = new BatchJob;
    job->input = m_overlong ? JobLine() : ParseJobLine(line, m_line);
    if (m_overlong) {
        job->input.line = m_line;
        job->input.error = "Job line " + std::to_string(m_line) + " is longer than " +
                           std::to_string(kMaxLineBytes) + " bytes.";
        m_overlong = false;
    }
    if (!job->input.valid) {
        m_rejected(job);  // a bad line costs only itself
        return;
    }
    job->kind = detectFormat(job->input.source).kind;
    job->fullTarget = fullPath(job->input.target);
    queue.push_back(job);
}

void JobFeed::Fill(std::deque<BatchJob*>& queue, size_t limit, bool readable) {
    while (queue.size() < limit) {
        size_t end = m_pending.find('\n', m_offset);
        if (end == std::string::npos) {
            if (!readable || m_fd < 0) return;
            readable = false;
            Read();
            continue;
        }
        if (end - m_offset > kMaxLineBytes) m_overlong = true;
        std::string line = m_pending.substr(m_offset, end - m_offset);
        m_offset = end + 1;
        Take(std::move(line), queue);
    }
}

void JobFeed::Read() {
    m_pending.erase(0, m_offset);  // only an incomplete line is left
    m_offset = 0;
    char buffer[65536];
    ssize_t n = read(m_fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {  // the end (or an input that cannot be read any more)
        m_failed = n < 0;
        m_fd = -1;
        if (!m_pending.empty() || m_overlong)
            m_pending += '\n';  // a last line without its line end
        return;
    }
    m_pending.append(buffer, static_cast<size_t>(n));
    if (m_pending.size() > kMaxLineBytes && m_pending.find('\n') == std::string::npos) {
        m_overlong = true;
        m_pending.clear();
    }
}

}  // namespace parlux::batch
