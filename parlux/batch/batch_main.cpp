#include "batch/batch_main.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "batch/batch_jobs.h"
#include "batch/job_feed.h"
#include "batch/result_writer.h"
#include "batch/worker_pool.h"
#include "convert.h"
#include "office_memory.h"

namespace parlux {
namespace {

constexpr int kMaxSlots = 64;
constexpr const char* kResultsFailedLine = "Unable to write the batch results.";

struct BatchOptions {
    std::string file = "-";
    batch::PoolOptions pool;
};

bool ParseCount(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    // Digits only: no sign, no blanks.
    bool digitsOnly = std::isdigit(static_cast<unsigned char>(*text)) && !*end;
    if (!digitsOnly || errno || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseOptions(const kit::cli::Args& args, BatchOptions& options) {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    options.pool.slots = cores > 0 ? static_cast<int>(std::min<long>(cores, kMaxSlots)) : 1;
    // An office is replaced before it nears the memory limit.
    options.pool.memoryLimitBytes = OfficeMemoryLimitBytes() / 4 * 3;
    // The job list: one word, or --batch=FILE.
    std::string given = args.Option("--batch");
    if (args.positional.size() > (given.empty() ? 1u : 0u)) return false;
    if (!given.empty()) options.file = given;
    if (!args.positional.empty()) options.file = args.positional[0];
    if (args.Has("--jobs") &&
        !ParseCount(args.Option("--jobs").c_str(), 1, kMaxSlots, options.pool.slots))
        return false;
    return !args.Has("--recycle") ||
           ParseCount(args.Option("--recycle").c_str(), 1, 1000000, options.pool.recycleAfter);
}

batch::JobReport ReportOf(const batch::BatchJob& job, int32_t code) {
    batch::JobReport report;
    report.line = job.input.line;
    report.id = job.input.id;
    report.hasSource = job.input.hasSource;
    report.hasTarget = job.input.hasTarget;
    report.source = job.input.source;
    report.target = job.input.target;
    report.code = code;
    if (!job.input.valid) report.message = job.input.error;
    if (job.attempted) {
        report.stage = job.result.stage;
        report.hr = job.result.hr;
        report.message = MessageText(job.result.message);
    }
    if (job.begun != std::chrono::steady_clock::time_point())
        report.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - job.begun)
                        .count();
    return report;
}

}  // namespace

int batchMain(const kit::cli::Args* args) {
    BatchOptions options;
    if (!args || !ParseOptions(*args, options)) {
        std::fprintf(stderr, "%s\n", kBatchUsageLine);
        logRejection(kInvalidArguments);
        return kInvalidArguments;
    }
    // Results that cannot be delivered must not pass for a batch that ran: a standard output
    // that is closed or read-only is refused before any job, a write that fails later stops
    // the batch.
    signal(SIGPIPE, SIG_IGN);
    int outFlags = fcntl(STDOUT_FILENO, F_GETFL);
    if (outFlags < 0 || (outFlags & O_ACCMODE) == O_RDONLY) {
        std::fprintf(stderr, "%s\n", kResultsFailedLine);
        return kOutputFailed;
    }
    int fd = 0;
    if (options.file != "-") {
        fd = open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "Unable to read the job list %s.\n", options.file.c_str());
            return 1;
        }
    }
    bool allSucceeded = true;
    batch::ResultWriter output(STDOUT_FILENO);
    auto done = [&](batch::BatchJob& job, int32_t code) {
        if (code != kSuccess) {
            allSucceeded = false;
            logRejection(code);
        }
        output.Write(batch::FormatReport(ReportOf(job, code)));
        delete &job;  // reported once, and no longer used
    };
    batch::JobFeed feed(fd, [&](batch::BatchJob* job) { done(*job, kInvalidArguments); });
    {
        batch::WorkerPool pool(options.pool, done, output);
        pool.Run(feed);
    }
    if (fd > 0) close(fd);
    output.Finish();
    if (output.Error() != 0) {
        std::fprintf(stderr, "%s\n", kResultsFailedLine);
        return kOutputFailed;
    }
    if (feed.failed()) {  // a directory, or a read error: the jobs it held were never seen
        std::fprintf(stderr, "Unable to read the job list %s.\n", options.file.c_str());
        return 1;
    }
    return allSucceeded ? 0 : 1;
}

}  // namespace parlux
