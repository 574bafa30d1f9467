// The job lines of a batch as they arrive: jobs for the pool, bad lines reported at once.
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
    // One read of what has arrived (it does not block once poll() found the descriptor readable);
    // its complete lines become jobs at the back of `queue`, new objects the queue's user frees.
    void Pull(std::deque<BatchJob*>& queue);
    void Stop() { m_fd = -1; }
    // Whether reading ended on an error rather than at the end of the input.
    bool failed() const { return m_failed; }

private:
    void Take(std::string line, std::deque<BatchJob*>& queue);

    int m_fd;
    std::function<void(BatchJob*)> m_rejected;
    std::string m_pending;
    size_t m_line = 0;
    bool m_failed = false;
    bool m_overlong = false;  // the rest of a line that was too long is being skipped
};

}  // namespace parlux::batch
