// Result lines written by a thread of their own, so a reader that is slow to take them never
// holds up the supervision of running jobs, the reading of new ones or cancellation.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace parlux::batch {

class ResultWriter {
public:
    explicit ResultWriter(int fd);
    ~ResultWriter();
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;

    // Queues `line` and its line end; never blocks on the reader.
    void Write(const std::string& line);
    // Waits until every line given has been written, or writing has failed.
    void Finish();
    // The errno of the write that failed (a reader gone, a full disk, a closed descriptor), else 0;
    // what follows such a failure is dropped.
    int Error() const { return m_error.load(); }
    // Whether so much waits for the reader that no further job line should be read meanwhile.
    bool Backlogged() const;

private:
    void Loop();
    bool WriteOut(const std::string& text);

    int m_fd;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_pending;
    size_t m_unwritten = 0;  // queued bytes not yet written
    bool m_finished = false;
    std::atomic<int> m_error{0};
    std::thread m_thread;
};

}  // namespace parlux::batch
