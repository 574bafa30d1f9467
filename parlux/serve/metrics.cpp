#include "serve/metrics.h"

#include <cstdio>

#include "platform/processes.h"
#include "records.h"

namespace parlux::serve {
namespace {

constexpr double kBuckets[] = {0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300};
constexpr size_t kBucketCount = sizeof kBuckets / sizeof kBuckets[0];

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

void Metrics::JobEnded(int32_t code, double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_jobs[code];
    if (m_bucketCounts.empty()) m_bucketCounts.assign(kBucketCount + 1, 0);
    size_t bucket = 0;
    while (bucket < kBucketCount && seconds > kBuckets[bucket]) ++bucket;
    ++m_bucketCounts[bucket];
    m_secondsSum += seconds;
    ++m_secondsCount;
}

void Metrics::JobRefused(int32_t code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_jobs[code];
}

void Metrics::Refused(const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_refused[reason];
}

void Metrics::OfficeStarted(uint32_t pid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_offices.insert(pid).second) return;
    ++m_starts;
    for (auto it = m_offices.begin(); it != m_offices.end();)  // offices replaced since
        it = platform::ProcessAlive(static_cast<pid_t>(*it)) ? std::next(it) : m_offices.erase(it);
}

void Metrics::OfficeStartFailed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_startFailures;
}

void Metrics::CleanupFailed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_cleanupFailures;
}

std::string Metrics::Text(const PoolGauges& pool) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    Family(out, "parlux_jobs_total", "counter", "Conversion requests ended, by result code.");
    for (const auto& [code, count] : m_jobs)
        out += "parlux_jobs_total{code=\"" + std::to_string(code) + "\",name=\"" + resultName(code) + "\"} " +
               std::to_string(count) + "\n";
    Family(out, "parlux_requests_refused_total", "counter", "Requests refused before any conversion, by reason.");
    for (const char* reason : {"queue_full", "draining", "too_large"})
        out += std::string("parlux_requests_refused_total{reason=\"") + reason + "\"} " +
               std::to_string(m_refused[reason]) + "\n";
    int busy = pool.inPool < pool.slots ? pool.inPool : pool.slots;
    Family(out, "parlux_queue_length", "gauge", "Requests waiting for a worker.");
    out += "parlux_queue_length " + std::to_string(pool.inPool - busy) + "\n";
    Family(out, "parlux_workers", "gauge", "Workers converting (busy) or waiting for a request (idle).");
    out += "parlux_workers{state=\"busy\"} " + std::to_string(busy) + "\n";
    out += "parlux_workers{state=\"idle\"} " + std::to_string(pool.slots - busy) + "\n";
    Family(out, "parlux_office_startups_total", "counter", "Office start-ups, by outcome.");
    out += "parlux_office_startups_total{outcome=\"started\"} " + std::to_string(m_starts) + "\n";
    out += "parlux_office_startups_total{outcome=\"failed\"} " + std::to_string(m_startFailures) + "\n";
    Family(out, "parlux_conversion_seconds", "histogram", "Time from a request reaching the pool to its result.");
    uint64_t cumulative = 0;
    for (size_t i = 0; i < kBucketCount; ++i) {
        cumulative += m_bucketCounts.empty() ? 0 : m_bucketCounts[i];
        out += "parlux_conversion_seconds_bucket{le=\"" + Number(kBuckets[i]) + "\"} " + std::to_string(cumulative) + "\n";
    }
    out += "parlux_conversion_seconds_bucket{le=\"+Inf\"} " + std::to_string(m_secondsCount) + "\n";
    out += "parlux_conversion_seconds_sum " + Number(m_secondsSum) + "\n";
    out += "parlux_conversion_seconds_count " + std::to_string(m_secondsCount) + "\n";
    uint64_t resident = 0;
    for (auto it = m_offices.begin(); it != m_offices.end();) {
        uint64_t bytes = platform::ProcessResidentBytes(static_cast<pid_t>(*it));
        resident += bytes;
        it = bytes == 0 ? m_offices.erase(it) : std::next(it);
    }
    Family(out, "parlux_office_resident_bytes", "gauge", "Memory the running offices hold resident.");
    out += "parlux_office_resident_bytes " + std::to_string(resident) + "\n";
    Family(out, "parlux_request_cleanup_failures_total", "counter", "Private request directories that stayed.");
    out += "parlux_request_cleanup_failures_total " + std::to_string(m_cleanupFailures) + "\n";
    Family(out, "parlux_serving", "gauge", "1 while the service takes requests, 0 while draining or unhealthy.");
    out += std::string("parlux_serving ") + (pool.draining || !pool.healthy ? "0" : "1") + "\n";
    return out;
}

}  // namespace parlux::serve
