// The job lines of a batch as workers free up for them: jobs for the pool, bad lines reported
// at once. Only one read's worth of input waits unparsed, so memory stays flat however long
// the list.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "batch/worker_pool.h"

namespace parlux::batch {

class JobFeed {
public:
    // `rejected` gets each bad line's job (then its owner).
    JobFeed(int fd, std::function<void(BatchJob*)> rejected) : m_fd(fd), m_rejected(std::move(rejected)) {}

    // -1 once the input has ended or reading stopped.
    int fd() const { return m_fd; }
    // Whether a complete line waits in what was read.
    bool HasLine() const { return m_pending.find('\n', m_offset) != std::string::npos; }
    // No line will come any more.
    bool Ended() const { return m_fd < 0 && !HasLine(); }
    // Makes waiting lines into jobs at the back of `queue` (new objects its user frees) until it
    // holds `limit`; when none waits and `readable` (poll() found the descriptor so: the read does
    // not block), reads once what has arrived.
    void Fill(std::deque<BatchJob*>& queue, size_t limit, bool readable);
    // No further input is read; lines already read stay for Fill.
    void Stop() { m_fd = -1; }
    // Whether reading ended on an error rather than at the end of the input.
    bool failed() const { return m_failed; }

private:
    void Read();
    void Take(std::string line, std::deque<BatchJob*>& queue);

    int m_fd;
    std::function<void(BatchJob*)> m_rejected;
    std::string m_pending;  // read, from m_offset on not yet made into jobs
    size_t m_offset = 0;
    size_t m_line = 0;
    bool m_failed = false;
    bool m_overlong = false;  // the rest of a line that was too long is being skipped
};

}  // namespace parlux::batch
