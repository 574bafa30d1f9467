// A pool of supervised serving workers, each keeping one office between the jobs it converts.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_jobs.h"
#include "conversion_plan.h"
#include "supervisor.h"

namespace parlux::batch {

class JobFeed;
class ResultWriter;

struct PoolOptions {
    int slots = 1;
    int recycleAfter = 200;       // jobs an office converts before it is replaced
    uint64_t memoryLimitBytes = 0;  // an office that with its worker holds more is replaced; 0: never
};

// One job of the batch as it goes through its attempts.
struct BatchJob {
    JobLine input;
    DocumentKind kind = DocumentKind::WordDocument;  // by the source's extension, for choosing a slot
    std::string fullTarget;  // jobs naming one target run one after another, in line order
    ConversionPlan plan;
    std::unique_ptr<AttemptSequence> attempts;  // set once the job is planned
    Attempt attempt;
    ConversionResult result = NewResult();
    bool attempted = false;  // a worker ran: `result` holds the details
    std::chrono::steady_clock::time_point begun, attemptBegun;
};

class WorkerPool {
public:
    // Called once per job, as its last use by the pool.
    using JobDone = std::function<void(BatchJob& job, int32_t code)>;
    // `output` takes the reports `done` makes: while its reader lags no further job is read, and
    // once it fails the batch stops.
    WorkerPool(const PoolOptions& options, JobDone done, const ResultWriter& output);
    ~WorkerPool();

    // Converts the jobs `feed` brings until it ends, reporting each through `done` as it ends;
    // jobs are read as workers free up for them (two per worker wait, at least 64). Once the
    // process is asked to stop or the results cannot be written, no more jobs are read, running
    // jobs are cancelled and the ones read but not started are reported as not run.
    void Run(JobFeed& feed);

private:
    struct Slot {
        WorkerProcess worker;  // pid 0: no worker runs
        std::string key;       // officeKey of the jobs its office serves; empty: none kept
        Provider provider = Provider::Microsoft;
        DocumentKind kind = DocumentKind::WordDocument;
        bool bothKinds = false;  // its office serves documents and workbooks
        ProcessIdentity office;
        std::string lastRequestId;
        int served = 0;
        bool freshOffice = false;  // its current job is the first on a newly started worker
        bool startTimed = false;   // its office's start-up time was counted
        BatchJob* job = nullptr;
        // Declining jobs of other kinds since it ended its last job: how many jobs of each kind
        // had been taken when it began to.
        bool declining = false;
        std::map<DocumentKind, uint64_t> takenBefore;
    };
    // A worker quitting its office while the pool goes on with the other jobs.
    struct Retiring {
        WorkerProcess worker;
        ProcessIdentity office;
        Provider provider = Provider::Microsoft;
        DocumentKind kind = DocumentKind::WordDocument;
        std::string requestId;
        std::chrono::steady_clock::time_point deadline;  // then it is stopped
        int exitHandle = -1;  // readable once the worker has ended; -1: none
        // The job whose attempt ended with this worker: reported once the cleanup is known.
        BatchJob* job = nullptr;
        AttemptEnd end;
        WorkerChannel channel;
        bool firstOnOffice = false;
    };
    // A running mean of job times, in milliseconds.
    struct JobTimes {
        double meanMs = 0;
        int count = 0;
        void Add(long long ms) { meanMs += (static_cast<double>(ms) - meanMs) / ++count; }
    };

    // Plans (first attempt) and starts the job's next attempt on `slot`; false when the job
    // ended without one.
    bool Dispatch(Slot& slot, BatchJob& job);
    // Reads what the slot's worker sent and ends its job's attempt once it has a result, has
    // exited or passed its time limit.
    void Supervise(Slot& slot);
    // Decides the attempt's result, keeps or replaces the slot's worker and office, and goes on
    // with the job's next attempt or reports it.
    void EndAttempt(Slot& slot, AttemptEnd end, bool workerEnded);
    // Decides the result of the attempt `job` had on `office` and goes on with the job.
    void Conclude(BatchJob& job, AttemptEnd end, const WorkerChannel& channel, const ProcessIdentity& office,
                  bool firstOnOffice);
    // Lets the slot's worker quit its office and end while the pool goes on; the slot is free at
    // once. `pending` carries the job waiting for the cleanup, if any.
    void Retire(Slot& slot, const ProcessIdentity& office, const std::string& requestId, Retiring pending);
    // Cleans up after the retiring workers that have ended, stopping the ones whose time is up or
    // all of them on a stop request; with `all`, waits until every one has ended.
    void AwaitRetiring(bool all);
    // Whether the retiring worker has ended (once its time is up it is made to).
    bool Retired(Retiring& retiring);
    bool KeepsOffice(const Slot& slot, const ProcessIdentity& office) const;
    void Report(BatchJob& job, int32_t code);
    BatchJob* TakeJobFor(Slot& slot);
    // Whether the slot's office (kept or starting) serves documents of `kind`.
    static bool Serves(const Slot& slot, DocumentKind kind);
    // How many slots besides `slot` run a worker for documents of `kind`.
    int Serving(const Slot& slot, DocumentKind kind) const;
    // Whether `slot`, keeping an office of another application, should replace it to take the
    // `waiting` jobs of `kind` rather than leave them to the offices that serve that kind (or to
    // a slot without an office, which starts one without giving another up).
    bool SwitchPaysOff(const Slot& slot, DocumentKind kind, size_t waiting) const;
    // Jobs of `kind` other slots took while `slot` was declining them.
    uint64_t TakenWhileDeclining(const Slot& slot, DocumentKind kind) const;
    // Retires every slot's worker, letting all of them quit their offices at once, and waits for
    // all retiring workers.
    void RetireAll();
    void Interrupt();

    PoolOptions m_options;
    JobDone m_done;
    const ResultWriter& m_output;
    std::vector<Slot> m_slots;
    std::deque<BatchJob*> m_queue;
    std::vector<Retiring> m_retiring;
    JobFeed* m_feed = nullptr;
    bool m_stopping = false;
    JobTimes m_starts;                             // from a new worker's job to its office being ready
    std::map<DocumentKind, JobTimes> m_keptJobs;  // successful jobs on an office kept from an earlier one
    std::map<DocumentKind, uint64_t> m_taken;      // jobs taken from the queue, by kind
};

}  // namespace parlux::batch
