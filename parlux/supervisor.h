// Supervision of one conversion attempt: the worker process, its messages, its time limit and
// the cleanup of the office process it started.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "providers.h"
#include "records.h"
#include "worker.h"

namespace parlux {

// What the parent has heard from one worker.
struct WorkerChannel {
    int readEnd = -1;
    std::string requestId;
    Provider provider = Provider::Microsoft;
    ConversionProgress lastProgress{};
    bool resultReceived = false;
};

// One worker process: its pipes, cancellation, private attempt directory and start time.
struct WorkerProcess {
    pid_t pid = 0;
    uint64_t notBefore = 0;  // the worker's start time: offices started before it are not its own
    uint64_t memoryLimit = 0;  // the resident bytes it and its office may hold together; 0: no limit
    int cancelSet = -1;
    int jobWrite = -1;  // a serving worker's job stream, else -1
    std::string attemptDir;
    WorkerChannel channel;
};

// Starts "--parlux-worker" with `arguments` followed by the pipe and cancellation descriptors
// (and, when `serve`, the job stream's); kSuccess, else the failure is in `result`.
int32_t startWorker(const std::vector<std::string>& arguments, bool serve, WorkerProcess& worker,
                    ConversionResult& result);
// What the supervisor makes of an attempt: cleanup failure, cancellation, time-out, a passed
// memory limit, or a worker that ended without a result override what the worker reported.
struct AttemptEnd {
    bool cleaned = true, interrupted = false, timedOut = false, overMemory = false;
    int exitCode = 13;
    // When it passed the memory limit: the stage it was in, what its worker and office held, the limit.
    uint32_t memoryStage = 0;
    uint64_t residentBytes = 0, memoryLimit = 0;
};
// After the time limit, an interruption or the memory limit: cancellation, then SIGTERM
// (interruption, memory: the worker kills its office at once) or the grace period, then SIGKILL.
// True when the worker ended; `exitCode` is its status.
bool stopWorker(WorkerProcess& worker, const AttemptEnd& end, int& exitCode);
// The resident size of the worker and of its office (the one it reported as its own, or the one
// recorded in its attempt directory before it could report it).
uint64_t attemptResidentBytes(const WorkerProcess& worker);
// Whether the worker and its office hold more than its memory limit; notes it in `end` if so.
bool passedMemoryLimit(const WorkerProcess& worker, AttemptEnd& end);
// The office the worker reported: the result's when one arrived with a pid, else the last progress's.
ProcessIdentity reportedOffice(const WorkerChannel& channel, const ConversionResult& result);
// Verified cleanup of the worker's office (reported, or recorded in its attempt directory) and
// removal of the attempt directory; closes the worker's descriptors. Whether the cleanup held.
bool cleanUpWorker(WorkerProcess& worker, const ProcessIdentity& identity, Provider provider, DocumentKind kind,
                   const std::string& requestId);
// "request=<id> provider=ms|wps", the start of the attempt's log lines.
std::string attemptLogPrefix(const std::string& requestId, Provider provider);
// A result the supervisor writes itself.
void synthesizeResult(ConversionResult& result, int32_t code, uint32_t stage, int32_t hr,
                      const ProcessIdentity& identity, const std::string& message);
// One message read from the worker: progress is noted and logged, a result taken; a malformed
// message or an unknown kind is dropped.
void acceptWorkerMessage(WorkerChannel& channel, const WorkerMessage& message, ConversionResult& result);
void decideResult(const AttemptEnd& end, const WorkerChannel& channel, const ProcessIdentity& identity,
                  ConversionResult& result);
// The attempt's closing log line.
void logAttemptResult(const std::string& requestId, Provider provider, const ConversionResult& result);
void logWorkerStarted(const std::string& requestId, Provider provider, pid_t worker, int timeoutMs);

int32_t runWorker(Provider provider, DocumentKind kind, const std::string& sourcePath, const std::string& outputPath,
                  int timeoutMs, const std::string& requestId, ConversionResult& result);
// Reads every complete message waiting in the pipe; a partial one stays for the next pass.
void drainWorkerPipe(WorkerChannel& channel, ConversionResult& result);
// Whether the office process is gone or needs no cleanup; `notBefore` is the worker's start time.
bool cleanupOfficeProcess(const ProcessIdentity& identity, Provider provider, DocumentKind kind, uint64_t notBefore,
                          const std::string& requestId);
// A pidfd on `pid` when it is still the expected office process, else -1.
int revalidateOfficeProcess(uint32_t pid, Provider provider, DocumentKind kind, uint64_t notBefore);

}  // namespace parlux
