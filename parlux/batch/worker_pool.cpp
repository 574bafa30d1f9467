#include "batch/worker_pool.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "batch/job_feed.h"
#include "batch/result_writer.h"
#include "hresult.h"
#include "job_records.h"
#include "log.h"
#include "platform/interruption.h"
#include "platform/pipes.h"
#include "platform/process_handles.h"
#include "platform/processes.h"
#include "worker.h"

namespace parlux::batch {
namespace {

constexpr int kPollMs = 50;
constexpr int kRetireMs = 15000;  // for a worker to quit its office and end once its job stream closes
constexpr int kTerminateWaitMs = 3000;
constexpr size_t kMinReadAhead = 64;

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

WorkerPool::WorkerPool(const PoolOptions& options, JobDone done, const ResultWriter& output)
    : m_options(options),
      m_done(std::move(done)),
      m_output(output),
      m_slots(static_cast<size_t>(options.slots > 0 ? options.slots : 1)) {}

WorkerPool::~WorkerPool() { RetireAll(); }

void WorkerPool::RetireAll() {
    for (Slot& slot : m_slots)
        if (slot.worker.pid != 0) Retire(slot, slot.office, slot.lastRequestId, Retiring());
    AwaitRetiring(true);
}

void WorkerPool::Report(BatchJob& job, int32_t code) {
    job.attempts.reset();  // its temporary PDF, if any, goes first
    m_done(job, code);
}

BatchJob* WorkerPool::TakeJobFor(Slot& slot) {
    // A job waits while a running or earlier job names its target, so the later line's PDF is
    // the one that stands and two commits to one target never race.
    std::set<std::string> held;
    for (const Slot& other : m_slots)
        if (other.job) held.insert(other.job->fullTarget);
    for (const Retiring& retiring : m_retiring)
        if (retiring.job) held.insert(retiring.job->fullTarget);
    std::map<DocumentKind, size_t> first, waiting;  // per kind: the first takeable job, and their number
    for (size_t i = 0; i < m_queue.size(); ++i) {
        if (!held.insert(m_queue[i]->fullTarget).second) continue;
        first.emplace(m_queue[i]->kind, i);
        ++waiting[m_queue[i]->kind];
    }
    if (first.empty()) return nullptr;
    size_t chosen = m_queue.size();
    if (!slot.key.empty()) {
        // A job for the office this slot keeps; else the first one, when changing office pays off.
        size_t own = m_queue.size();
        for (const auto& kind : first)
            if (Serves(slot, kind.first)) own = std::min(own, kind.second);
        if (own < m_queue.size()) {
            chosen = own;
        } else {
            for (const auto& kind : first) chosen = std::min(chosen, kind.second);
            if (!SwitchPaysOff(slot, m_queue[chosen]->kind, waiting[m_queue[chosen]->kind])) {
                if (!slot.declining) slot.takenBefore = m_taken;
                slot.declining = true;
                return nullptr;
            }
        }
    } else {
        // A new office is for a kind no other office serves, when such jobs wait; else the first job.
        size_t unserved = m_queue.size();
        for (const auto& kind : first) {
            chosen = std::min(chosen, kind.second);
            if (Serving(slot, kind.first) == 0) unserved = std::min(unserved, kind.second);
        }
        if (unserved < m_queue.size()) chosen = unserved;
    }
    BatchJob* job = m_queue[chosen];
    m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(chosen));
    ++m_taken[job->kind];
    slot.declining = false;
    return job;
}

bool WorkerPool::Serves(const Slot& slot, DocumentKind kind) { return slot.bothKinds || slot.kind == kind; }

int WorkerPool::Serving(const Slot& slot, DocumentKind kind) const {
    int serving = 0;
    for (const Slot& other : m_slots)
        if (&other != &slot && other.worker.pid != 0 && Serves(other, kind)) ++serving;
    return serving;
}

bool WorkerPool::SwitchPaysOff(const Slot& slot, DocumentKind kind, size_t waiting) const {
    int serving = Serving(slot, kind);
    if (serving == 0) {
        for (const Slot& other : m_slots)
            if (&other != &slot && other.worker.pid == 0) return false;  // it starts that office
        return true;  // nobody else would take them
    }
    auto kept = m_keptJobs.find(kind);
    if (m_starts.count == 0 || kept == m_keptJobs.end()) return false;  // no measure yet: they are served
    // Worth it when the serving offices would take longer over the waiting jobs than a start-up.
    // Those they took while this slot stood idle count too: when jobs arrive one by one (a
    // service's clients) few wait at a time, however long the stream of that kind.
    double jobs = static_cast<double>(waiting + TakenWhileDeclining(slot, kind));
    return jobs * kept->second.meanMs / serving > m_starts.meanMs;
}

uint64_t WorkerPool::TakenWhileDeclining(const Slot& slot, DocumentKind kind) const {
    if (!slot.declining) return 0;
    auto now = m_taken.find(kind);
    auto before = slot.takenBefore.find(kind);
    return (now == m_taken.end() ? 0 : now->second) - (before == slot.takenBefore.end() ? 0 : before->second);
}

bool WorkerPool::Dispatch(Slot& slot, BatchJob& job) {
    int32_t code = kSuccess;
    if (!job.attempts) {
        job.begun = Clock::now();
        code = planConversion(job.input.source, job.input.target, job.input.providerArg, job.plan, job.input.request);
        if (code != kSuccess) {
            Report(job, code);
            return false;
        }
        job.attempts = std::make_unique<AttemptSequence>(job.plan);
    }
    if (!job.attempts->Next(job.attempt, code)) {
        Report(job, code);
        return false;
    }
    std::string needed = officeKey(job.attempt.provider, job.plan.format.kind);
    if (slot.worker.pid != 0 && slot.key != needed) Retire(slot, slot.office, slot.lastRequestId, Retiring());
    job.attemptBegun = Clock::now();
    job.attempted = true;
    slot.job = &job;
    slot.provider = job.attempt.provider;
    slot.kind = job.plan.format.kind;
    slot.bothKinds = oneOfficeForBothKinds(job.attempt.provider);
    slot.lastRequestId = job.plan.requestId;
    slot.freshOffice = slot.worker.pid == 0;
    slot.startTimed = false;
    if (slot.worker.pid == 0 && startWorker({"--serve"}, true, slot.worker, job.result) != kSuccess) {
        slot.job = nullptr;
        int32_t final = kSuccess;
        if (job.attempts->Finish(job.result, m_stopping, final))
            Report(job, final);
        else
            m_queue.push_front(&job);
        return true;
    }
    WorkerChannel& channel = slot.worker.channel;
    channel.requestId = job.plan.requestId;
    channel.provider = job.attempt.provider;
    channel.lastProgress = ConversionProgress{};
    channel.resultReceived = false;
    job.result = NewResult();
    logWorkerStarted(job.plan.requestId, job.attempt.provider, slot.worker.pid, job.plan.timeoutMs);
    ++slot.served;
    // A worker that cannot take the job has ended: supervision finds it without a result.
    WriteJob(slot.worker.jobWrite,
             JobRecord{job.attempt.provider, job.plan.format.kind, job.attempt.sourcePath, job.attempt.outputPath});
    return true;
}

void WorkerPool::Supervise(Slot& slot) {
    BatchJob& job = *slot.job;
    AttemptEnd end;
    bool ended = platform::WaitChild(slot.worker.pid, 0, end.exitCode);
    drainWorkerPipe(slot.worker.channel, job.result);
    if (slot.freshOffice && !slot.startTimed && slot.worker.channel.lastProgress.stage >= kStageSettings) {
        m_starts.Add(MillisecondsSince(job.attemptBegun));  // the new office is ready
        slot.startTimed = true;
    }
    if (slot.worker.channel.resultReceived || ended) {
        EndAttempt(slot, end, ended);
        return;
    }
    end.interrupted = m_stopping;
    if (!end.interrupted && !passedMemoryLimit(slot.worker, end)) {
        if (MillisecondsSince(job.attemptBegun) < job.plan.timeoutMs) return;
        end.timedOut = true;
    }
    ended = stopWorker(slot.worker, end, end.exitCode);
    drainWorkerPipe(slot.worker.channel, job.result);
    if (!ended) end.exitCode = kInternalError;
    EndAttempt(slot, end, true);
}

bool WorkerPool::KeepsOffice(const Slot& slot, const ProcessIdentity& office) const {
    if (m_stopping || (m_queue.empty() && m_feed->Ended()) || slot.served >= m_options.recycleAfter)
        return false;
    if (!office.owned || office.pid == 0 || !platform::ProcessAlive(static_cast<pid_t>(office.pid))) return false;
    return m_options.memoryLimitBytes == 0 || attemptResidentBytes(slot.worker) <= m_options.memoryLimitBytes;
}

void WorkerPool::EndAttempt(Slot& slot, AttemptEnd end, bool workerEnded) {
    BatchJob& job = *slot.job;
    slot.job = nullptr;
    bool firstOnOffice = slot.freshOffice;
    slot.freshOffice = false;
    WorkerChannel channel = slot.worker.channel;  // the slot may be replaced below
    ProcessIdentity office = reportedOffice(channel, job.result);
    if (office.pid == 0) office = slot.office;
    bool keep = !workerEnded && channel.resultReceived && leavesOfficeUsable(job.result.code) && KeepsOffice(slot, office);
    if (keep) {
        slot.office = office;
        slot.key = officeKey(job.attempt.provider, job.plan.format.kind);
    } else if (workerEnded) {
        end.cleaned = cleanUpWorker(slot.worker, office, job.attempt.provider, job.plan.format.kind, job.plan.requestId);
        slot = Slot();
    } else {
        // The job's result waits for the cleanup; the slot takes its next job meanwhile.
        Retiring pending;
        pending.job = &job;
        pending.end = end;
        pending.channel = channel;
        pending.firstOnOffice = firstOnOffice;
        Retire(slot, office, job.plan.requestId, std::move(pending));
        return;
    }
    Conclude(job, end, channel, office, firstOnOffice);
}

void WorkerPool::Conclude(BatchJob& job, AttemptEnd end, const WorkerChannel& channel, const ProcessIdentity& office,
                          bool firstOnOffice) {
    decideResult(end, channel, office, job.result);
    logAttemptResult(job.plan.requestId, job.attempt.provider, job.result);
    if (job.result.code == kSuccess && !firstOnOffice)
        m_keptJobs[job.plan.format.kind].Add(MillisecondsSince(job.attemptBegun));
    int32_t code = kSuccess;
    if (job.attempts->Finish(job.result, m_stopping, code))
        Report(job, code);
    else
        m_queue.push_front(&job);
}

void WorkerPool::Retire(Slot& slot, const ProcessIdentity& office, const std::string& requestId, Retiring pending) {
    platform::CloseDescriptor(slot.worker.jobWrite);  // the worker quits its office and ends
    pending.worker = slot.worker;
    pending.office = office;
    pending.provider = slot.provider;
    pending.kind = slot.kind;
    pending.requestId = requestId;
    pending.deadline = Clock::now() + std::chrono::milliseconds(kRetireMs);
    pending.exitHandle = platform::OpenProcessHandle(slot.worker.pid);
    m_retiring.push_back(std::move(pending));
    slot = Slot();
}

bool WorkerPool::Retired(Retiring& retiring) {
    int status = 0;
    pid_t pid = retiring.worker.pid;
    if (platform::WaitChild(pid, 0, status)) return true;
    if (platform::InterruptSignal() == 0 && Clock::now() < retiring.deadline) return false;
    kill(pid, SIGTERM);  // stops its office group at once
    if (!platform::WaitChild(pid, kTerminateWaitMs, status)) {
        kill(pid, SIGKILL);
        platform::WaitChild(pid, kTerminateWaitMs, status);
    }
    return true;
}

void WorkerPool::AwaitRetiring(bool all) {
    for (;;) {
        for (size_t i = 0; i < m_retiring.size();) {
            if (!Retired(m_retiring[i])) {
                ++i;
                continue;
            }
            Retiring done = std::move(m_retiring[i]);
            m_retiring.erase(m_retiring.begin() + static_cast<std::ptrdiff_t>(i));
            platform::CloseProcessHandle(done.exitHandle);
            bool cleaned = cleanUpWorker(done.worker, done.office, done.provider, done.kind, done.requestId);
            if (!done.job) continue;
            done.end.cleaned = cleaned;
            Conclude(*done.job, done.end, done.channel, done.office, done.firstOnOffice);
        }
        if (!all || m_retiring.empty()) return;
        std::vector<struct pollfd> ends;
        for (const Retiring& retiring : m_retiring)
            if (retiring.exitHandle >= 0) ends.push_back({retiring.exitHandle, POLLIN, 0});
        poll(ends.data(), ends.size(), kPollMs);
    }
}

void WorkerPool::Interrupt() {
    m_stopping = true;
    m_feed->Stop();
    // Every line already read gets its result.
    m_feed->Fill(m_queue, std::numeric_limits<size_t>::max(), false);
    for (Slot& slot : m_slots)
        if (slot.job) Supervise(slot);
    while (!m_queue.empty()) {
        BatchJob* job = m_queue.front();
        m_queue.pop_front();
        if (job->attempts) {
            // Between its attempts: no further provider is tried.
            Report(*job, job->result.code);
            continue;
        }
        job->result = NewResult();
        job->result.code = kTimeout;
        job->result.hr = kHrCancelled;
        SetMessage(job->result.message, "Conversion was cancelled before it started.");
        job->attempted = true;
        Report(*job, kTimeout);
    }
    RetireAll();
}

void WorkerPool::Run(JobFeed& feed) {
    m_feed = &feed;
    signal(SIGPIPE, SIG_IGN);  // a worker that died must not take the batch with it
    platform::InstallInterruptHandlers();
    // Jobs waiting for a worker: enough for choosing offices by the kinds that wait, few enough
    // that memory stays flat however long the list.
    const size_t readAhead = std::max<size_t>(2 * m_slots.size(), kMinReadAhead);
    for (;;) {
        if (!m_stopping && m_output.Error() != 0)
            writeLog(kWarn, std::string("batch results cannot be written (") +
                                std::strerror(m_output.Error()) + "); no further job is taken");
        if (!m_stopping && (platform::InterruptSignal() != 0 || m_output.Error() != 0)) Interrupt();
        bool reading = !m_stopping && !m_output.Backlogged();
        if (reading) feed.Fill(m_queue, readAhead, false);
        // Slots keeping an office choose first: a job their office suits never starts another.
        std::vector<Slot*> order;
        for (bool keeping : {true, false})
            for (Slot& slot : m_slots)
                if ((slot.worker.pid != 0) == keeping) order.push_back(&slot);
        bool busy = false;
        for (Slot* slot : order) {
            while (!slot->job && !m_stopping) {
                BatchJob* job = TakeJobFor(*slot);
                if (!job || Dispatch(*slot, *job)) break;
            }
            busy = busy || slot->job;
        }
        for (const Retiring& retiring : m_retiring) busy = busy || retiring.job;
        if (!busy && (m_stopping || (m_queue.empty() && feed.Ended()))) break;
        bool room = reading && m_queue.size() < readAhead;
        bool readInput = room && !feed.HasLine() && feed.fd() >= 0;
        std::vector<struct pollfd> fds;
        for (Slot& slot : m_slots)
            if (slot.job) fds.push_back({slot.worker.channel.readEnd, POLLIN, 0});
        for (const Retiring& retiring : m_retiring)
            if (retiring.exitHandle >= 0) fds.push_back({retiring.exitHandle, POLLIN, 0});
        if (readInput) fds.push_back({feed.fd(), POLLIN, 0});
        // Lines already read that now have room are taken at once.
        int timeout = room && feed.HasLine() ? 0 : kPollMs;
        if (poll(fds.data(), fds.size(), timeout) > 0 && readInput && fds.back().revents != 0)
            feed.Fill(m_queue, readAhead, true);
        AwaitRetiring(false);
        for (Slot& slot : m_slots)
            if (slot.job) Supervise(slot);
    }
    RetireAll();
}

}  // namespace parlux::batch
