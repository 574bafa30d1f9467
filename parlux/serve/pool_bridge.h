// The bridge between the HTTP threads and the batch mode's worker pool: requests become job
// lines on a pipe the pool reads, and each waits for the pool to report its job.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "batch/worker_pool.h"
#include "serve/metrics.h"

namespace parlux::serve {

// What one conversion came to.
struct Outcome {
    int32_t code = 13;
    uint32_t stage = 0;
    int32_t hr = 0;
    std::string message;
};

class PoolBridge {
public:
    PoolBridge(const batch::PoolOptions& pool, int queue, Metrics& metrics);
    ~PoolBridge();
    PoolBridge(const PoolBridge&) = delete;
    PoolBridge& operator=(const PoolBridge&) = delete;

    // Starts the pool on its own thread; false when its job pipe cannot be made.
    bool Start();

    enum class Admission { kAdmitted, kFull, kDraining };
    // Takes one of the places (--jobs running plus --queue waiting) for a request about to be
    // stored; a place taken is given back by Convert or Leave.
    Admission Admit();
    // What Admit would answer now, taking nothing.
    Admission WouldAdmit() const;
    void Leave();
    // Converts `source` into `target` on the pool with the request's place, and waits for the end.
    Outcome Convert(const std::string& source, const std::string& target, const std::string& provider,
                    const std::string& requestId);

    // No further request is admitted; the pool's input ends once every admitted request is in it.
    void Drain();
    // Waits until the pool has ended every job and stopped, at most until `deadline`; true if it did.
    bool AwaitStopped(std::chrono::steady_clock::time_point deadline);
    // Cancels what still runs (as an interruption of a batch would) and waits for the pool to stop.
    void Stop();

    bool Draining() const;
    // False after the last office start-ups failed, until one succeeds.
    bool Healthy() const;
    PoolGauges Gauges() const;
    // The seconds a refused client should wait: the queue's expected time to free a place.
    int RetryAfterSeconds() const;

private:
    struct Waiter {
        Outcome outcome;
        bool done = false;
    };
    void RunPool();
    void JobDone(batch::BatchJob& job, int32_t code);
    void NoteOffice(const batch::BatchJob& job, int32_t code);
    bool WriteJob(const std::string& line);
    // With the mutex held.
    Admission AdmissionNow() const;
    // With the mutex held: closes the pool's input once draining and nobody is about to write.
    void CloseInputWhenDrained();

    batch::PoolOptions m_poolOptions;
    int m_places;
    Metrics& m_metrics;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<uint64_t, Waiter*> m_waiting;  // by job id
    uint64_t m_nextId = 1;
    int m_admitted = 0;  // places taken (storing or in the pool)
    int m_inPool = 0;
    int m_failedStarts = 0;  // office start-ups failed since the last one that succeeded
    double m_meanSeconds = 1;
    bool m_draining = false, m_stopped = false;
    int m_jobWrite = -1, m_jobRead = -1;
    std::thread m_thread;
};

}  // namespace parlux::serve
