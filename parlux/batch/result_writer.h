// Result lines written by a thread of their own, so a reader that is slow to take them never
// holds up the supervision of running jobs, the reading of new ones or cancellation.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace parlux::batch {

class ResultWriter {
public:
    explicit ResultWriter(int fd);
    // Waits until every line given has been written (or the reader has gone).
    ~ResultWriter();
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;

    // Queues `line` and its line end; never blocks on the reader.
    void Write(const std::string& line);

private:
    void Loop();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_pending;
    bool m_finished = false;
    std::thread m_thread;
};

}  // namespace parlux::batch
