// What the service counts, written in the Prometheus text format for GET /metrics.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace parlux::serve {

// The pool's state at the moment of a scrape.
struct PoolGauges {
    int slots = 0;
    int inPool = 0;  // requests handed to the pool and not yet ended
    bool draining = false, healthy = true;
};

class Metrics {
public:
    // One conversion request ended with `code` (a result code) after `seconds` in the pool.
    void JobEnded(int32_t code, double seconds);
    // One ended with `code` before it reached the pool (a request without a usable document).
    void JobRefused(int32_t code);
    // A request refused before it reached the pool: "queue_full", "draining", "too_large".
    void Refused(const std::string& reason);
    // An office was found started (its pid seen for the first time) or failed to start.
    void OfficeStarted(uint32_t pid);
    void OfficeStartFailed();
    // A request's private directory could not be removed.
    void CleanupFailed();
    std::string Text(const PoolGauges& pool);

private:
    std::mutex m_mutex;
    std::map<int32_t, uint64_t> m_jobs;
    std::map<std::string, uint64_t> m_refused;
    std::vector<uint64_t> m_bucketCounts;  // per bucket (not cumulative), then the overflow
    double m_secondsSum = 0;
    uint64_t m_secondsCount = 0;
    uint64_t m_starts = 0, m_startFailures = 0, m_cleanupFailures = 0;
    std::set<uint32_t> m_offices;  // offices started and not yet seen gone
};

}  // namespace parlux::serve
