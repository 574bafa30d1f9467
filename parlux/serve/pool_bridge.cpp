#include "serve/pool_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "batch/job_feed.h"
#include "batch/result_writer.h"
#include "hresult.h"
#include "log.h"
#include "platform/interruption.h"
#include "platform/pipes.h"
#include "worker.h"

namespace parlux::serve {
namespace {

constexpr int kJobPipeBytes = 1 << 20;
constexpr int kWriteWaitMs = 1000;
constexpr int kFailedStartsUnhealthy = 2;

std::string JobLine(uint64_t id, const std::string& source, const std::string& target, const std::string& provider,
                    const std::string& requestId) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("source");
    writer.String(source.c_str(), static_cast<rapidjson::SizeType>(source.size()));
    writer.Key("target");
    writer.String(target.c_str(), static_cast<rapidjson::SizeType>(target.size()));
    if (!provider.empty()) {
        writer.Key("provider");
        writer.String(provider.c_str(), static_cast<rapidjson::SizeType>(provider.size()));
    }
    writer.Key("id");
    writer.Uint64(id);
    writer.Key("request");
    writer.String(requestId.c_str(), static_cast<rapidjson::SizeType>(requestId.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

Outcome Cancelled(const char* message) {
    Outcome outcome;
    outcome.code = kTimeout;
    outcome.hr = kHrCancelled;
    outcome.message = message;
    return outcome;
}

}  // namespace

PoolBridge::PoolBridge(const batch::PoolOptions& pool, int queue, Metrics& metrics)
    : m_poolOptions(pool), m_places(pool.slots + queue), m_metrics(metrics) {}

PoolBridge::~PoolBridge() {
    if (m_thread.joinable()) Stop();
    platform::CloseDescriptor(m_jobRead);
}

bool PoolBridge::Start() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    m_jobRead = ends[0];
    m_jobWrite = ends[1];
    fcntl(m_jobWrite, F_SETPIPE_SZ, kJobPipeBytes);
    fcntl(m_jobWrite, F_SETFL, fcntl(m_jobWrite, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { RunPool(); });
    return true;
}

void PoolBridge::RunPool() {
    {
        // Answers go back through the requests: nothing is written to a result stream.
        batch::ResultWriter unused(-1);
        auto done = [this](batch::BatchJob& job, int32_t code) { JobDone(job, code); };
        batch::JobFeed feed(m_jobRead, [&](batch::BatchJob* job) { done(*job, kInvalidArguments); });
        batch::WorkerPool pool(m_poolOptions, done, unused);
        pool.Run(feed);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    // Lines the pool never read, once it was interrupted.
    for (auto& [id, waiter] : m_waiting) {
        waiter->outcome = Cancelled("Conversion was cancelled before it started.");
        waiter->done = true;
    }
    m_waiting.clear();
    m_changed.notify_all();
}

void PoolBridge::NoteOffice(const batch::BatchJob& job, int32_t code) {
    if (!job.attempted) return;
    const ConversionResult& result = job.result;
    if (code != kSuccess && result.stage <= kStageCreate) {
        ++m_failedStarts;
        m_metrics.OfficeStartFailed();
        return;
    }
    m_failedStarts = 0;
    if (result.pid != 0 && result.owned) m_metrics.OfficeStarted(result.pid);
}

void PoolBridge::JobDone(batch::BatchJob& job, int32_t code) {
    std::unique_ptr<batch::BatchJob> owned(&job);  // reported once, and no longer used
    std::lock_guard<std::mutex> lock(m_mutex);
    NoteOffice(job, code);
    auto it = m_waiting.find(std::strtoull(job.input.id.c_str(), nullptr, 10));
    if (it == m_waiting.end()) return;
    Outcome& outcome = it->second->outcome;
    outcome.code = code;
    if (job.attempted) {
        outcome.stage = job.result.stage;
        outcome.hr = job.result.hr;
        outcome.message = MessageText(job.result.message);
    } else if (!job.input.valid) {
        outcome.message = job.input.error;
    }
    it->second->done = true;
    m_waiting.erase(it);
    m_changed.notify_all();
}

PoolBridge::Admission PoolBridge::AdmissionNow() const {
    if (m_draining || m_stopped) return Admission::kDraining;
    return m_admitted >= m_places ? Admission::kFull : Admission::kAdmitted;
}

PoolBridge::Admission PoolBridge::Admit() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Admission admission = AdmissionNow();
    if (admission == Admission::kAdmitted) ++m_admitted;
    return admission;
}

PoolBridge::Admission PoolBridge::WouldAdmit() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return AdmissionNow();
}

void PoolBridge::Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_admitted;
    CloseInputWhenDrained();
}

bool PoolBridge::WriteJob(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(m_jobWrite, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        struct pollfd out = {m_jobWrite, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && poll(&out, 1, kWriteWaitMs) > 0) continue;
        return false;
    }
    return true;
}

Outcome PoolBridge::Convert(const std::string& source, const std::string& target, const std::string& provider,
                            const std::string& requestId) {
    Waiter waiter;
    auto begun = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t id = m_nextId++;
    // Written whole under the lock: lines of two requests never mix.
    if (m_stopped || m_jobWrite < 0 || !WriteJob(JobLine(id, source, target, provider, requestId))) {
        --m_admitted;
        CloseInputWhenDrained();
        writeLog(kError, "request=" + requestId + " the worker pool does not take jobs any more");
        Outcome failed = Cancelled("The conversion service is stopping.");
        return failed;
    }
    m_waiting[id] = &waiter;
    ++m_inPool;
    CloseInputWhenDrained();
    m_changed.wait(lock, [&] { return waiter.done; });
    --m_inPool;
    --m_admitted;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    if (waiter.outcome.code == kSuccess) m_meanSeconds += (seconds - m_meanSeconds) / 8;
    lock.unlock();
    m_metrics.JobEnded(waiter.outcome.code, seconds);
    return waiter.outcome;
}

void PoolBridge::CloseInputWhenDrained() {
    if (m_draining && m_admitted == m_inPool) platform::CloseDescriptor(m_jobWrite);
}

void PoolBridge::Drain() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_draining = true;
    CloseInputWhenDrained();
}

bool PoolBridge::AwaitStopped(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_until(lock, deadline, [this] { return m_stopped; });
}

void PoolBridge::Stop() {
    platform::RequestInterrupt();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_draining = true;
        platform::CloseDescriptor(m_jobWrite);
    }
    if (m_thread.joinable()) m_thread.join();
}

bool PoolBridge::Draining() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_draining || m_stopped;
}

bool PoolBridge::Healthy() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedStarts < kFailedStartsUnhealthy;
}

PoolGauges PoolBridge::Gauges() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    PoolGauges gauges;
    gauges.slots = m_poolOptions.slots;
    gauges.inPool = m_inPool;
    gauges.draining = m_draining || m_stopped;
    gauges.healthy = m_failedStarts < kFailedStartsUnhealthy;
    return gauges;
}

int PoolBridge::RetryAfterSeconds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    double wait = std::ceil(m_meanSeconds * (m_admitted + 1) / m_poolOptions.slots);
    return static_cast<int>(std::min(60.0, std::max(1.0, wait)));
}

}  // namespace parlux::serve
