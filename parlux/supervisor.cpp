#include "supervisor.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

#include "attempt_files.h"
#include "hresult.h"
#include "log.h"
#include "office_memory.h"
#include "platform/file_lock.h"
#include "platform/interruption.h"
#include "platform/pipes.h"
#include "platform/process_handles.h"
#include "platform/private_dirs.h"
#include "platform/processes.h"
#include "supervision_text.h"

namespace parlux {
namespace {

constexpr int kPollMs = 50;
constexpr int kCancelGraceMs = 3000;
constexpr int kTerminateWaitMs = 1500;
constexpr int kCloseWaitMs = 3000;

int32_t FailedToStart(ConversionResult& result, int error, const char* message) {
    synthesizeResult(result, kInternalError, kStageNone, hresultFromWin32(win32FromErrno(error)), ProcessIdentity(), message);
    return kInternalError;
}

bool ReadExactly(int fd, void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, static_cast<char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void drainWorkerPipe(WorkerChannel& channel, ConversionResult& result) {
    while (channel.readEnd >= 0 && platform::BytesAvailable(channel.readEnd) >= sizeof(WorkerMessage)) {
        WorkerMessage message;
        if (!ReadExactly(channel.readEnd, &message, sizeof message)) return;
        acceptWorkerMessage(channel, message, result);
    }
}

int revalidateOfficeProcess(uint32_t pid, Provider provider, DocumentKind kind, uint64_t notBefore) {
    int handle = platform::OpenProcessHandle(static_cast<pid_t>(pid));
    if (handle < 0) return -1;
    uint64_t started = 0;
    bool same = platform::ProcessImageName(static_cast<pid_t>(pid)) == officeImageName(provider, kind) &&
                platform::ProcessStartTicks(static_cast<pid_t>(pid), started) && started >= notBefore &&
                !platform::WaitProcessHandle(handle, 0);  // what /proc showed was this process
    if (!same) {
        platform::CloseProcessHandle(handle);
        return -1;
    }
    return handle;
}

bool cleanupOfficeProcess(const ProcessIdentity& identity, Provider provider, DocumentKind kind, uint64_t notBefore,
                          const std::string& requestId) {
    if (!identity.owned || identity.pid == 0) return true;
    int probe = platform::OpenProcessHandle(static_cast<pid_t>(identity.pid));
    if (probe < 0) return errno == ESRCH;
    bool ended = platform::WaitProcessHandle(probe, 0);
    platform::CloseProcessHandle(probe);
    if (ended) return true;
    std::string pid = std::to_string(identity.pid);
    int handle = revalidateOfficeProcess(identity.pid, provider, kind, notBefore);
    if (handle < 0) {
        writeLog(kWarn, "request=" + requestId + " cleanup skipped because process ownership could not be revalidated pid=" + pid);
        return false;
    }
    if (platform::WaitProcessHandle(handle, kCloseWaitMs) ||
        (platform::SignalProcessHandle(handle, SIGTERM), platform::WaitProcessHandle(handle, kCloseWaitMs))) {
        platform::CloseProcessHandle(handle);
        return true;
    }
    bool terminated = platform::SignalProcessHandle(handle, SIGKILL);
    if (terminated) platform::WaitProcessHandle(handle, kTerminateWaitMs);
    platform::CloseProcessHandle(handle);
    if (terminated)
        writeLog(kWarn, "request=" + requestId + " terminated verified conversion process pid=" + pid);
    else
        writeLog(kError, "request=" + requestId + " failed to terminate verified conversion process pid=" + pid);
    return terminated;
}

namespace {

std::vector<std::string> WorkerEnvironment(const std::string& attemptDir) {
    return {std::string(kAttemptDirVariable) + "=" + attemptDir,
            std::string(kParentPidVariable) + "=" + std::to_string(getpid()),
            "TMPDIR=" + attemptDir + "/tmp"};  // what the worker and its office write goes here
}

void CloseAll(std::initializer_list<int*> fds) {
    for (int* fd : fds) platform::CloseDescriptor(*fd);
}

}  // namespace

int32_t startWorker(const std::vector<std::string>& arguments, bool serve, WorkerProcess& worker,
                    ConversionResult& result) {
    result = NewResult();
    int writeEnd = -1, cancelWait = -1, jobRead = -1;
    if (!platform::CreateWorkerPipe(worker.channel.readEnd, writeEnd))
        return FailedToStart(result, errno, "Unable to create worker progress pipe.");
    if (!platform::CreateCancellation(worker.cancelSet, cancelWait) ||
        (serve && !platform::CreateJobPipe(jobRead, worker.jobWrite))) {
        int error = errno;
        CloseAll({&worker.channel.readEnd, &writeEnd, &worker.cancelSet, &cancelWait});
        return FailedToStart(result, error, "Unable to create worker cancellation event.");
    }
    // Everything the attempt writes besides the temporary PDF lives here, and goes with it.
    worker.attemptDir = platform::MakePrivateDirectory("parlux");
    if (worker.attemptDir.empty() || mkdir((worker.attemptDir + "/tmp").c_str(), 0700) != 0) {
        int error = errno;
        platform::RemoveTree(worker.attemptDir);
        CloseAll({&writeEnd, &worker.channel.readEnd, &worker.cancelSet, &cancelWait, &jobRead, &worker.jobWrite});
        return FailedToStart(result, error, "Unable to create the attempt's private directory.");
    }
    // The worker parses this command line back into the same arguments.
    std::vector<std::string> all = {platform::ProgramPath(), "--parlux-worker"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.push_back(std::to_string(writeEnd));
    all.push_back(std::to_string(cancelWait));
    if (serve) all.push_back(std::to_string(jobRead));
    std::string commandLine;
    for (const std::string& argument : all) commandLine += (commandLine.empty() ? "" : " ") + quoteArgument(argument);
    platform::SpawnOptions options;
    options.environment = WorkerEnvironment(worker.attemptDir);
    options.parentDeathSignal = SIGTERM;  // a worker without its parent stops and cleans up
    // A serving worker never reads the batch's job input nor writes into its result stream.
    options.outputToStderr = serve;
    options.onlyKept = true;
    options.kept = {writeEnd, cancelWait};
    if (serve) options.kept.push_back(jobRead);
    worker.pid = platform::SpawnProcess(splitQuotedArguments(commandLine), options);
    CloseAll({&writeEnd, &cancelWait, &jobRead});
    if (worker.pid == 0) {
        int error = errno;
        CloseAll({&worker.channel.readEnd, &worker.cancelSet, &worker.jobWrite});
        platform::RemoveTree(worker.attemptDir);
        worker.attemptDir.clear();
        return FailedToStart(result, error, "Unable to start conversion worker.");
    }
    platform::ProcessStartTicks(worker.pid, worker.notBefore);
    worker.memoryLimit = OfficeMemoryLimitBytes();
    return kSuccess;
}

uint64_t attemptResidentBytes(const WorkerProcess& worker) {
    std::set<uint32_t> processes = {static_cast<uint32_t>(worker.pid)};
    const ConversionProgress& reported = worker.channel.lastProgress;
    if (reported.owned && reported.pid != 0) processes.insert(reported.pid);
    uint32_t recorded = worker.attemptDir.empty() ? 0 : RecordedOfficePid(worker.attemptDir);
    if (recorded != 0 && platform::CommandLineContains(static_cast<pid_t>(recorded), worker.attemptDir + "/"))
        processes.insert(recorded);
    uint64_t total = 0;
    for (uint32_t pid : processes) total += platform::ProcessResidentBytes(static_cast<pid_t>(pid));
    return total;
}

bool passedMemoryLimit(const WorkerProcess& worker, AttemptEnd& end) {
    if (worker.memoryLimit == 0) return false;
    uint64_t resident = attemptResidentBytes(worker);
    if (resident <= worker.memoryLimit) return false;
    end.overMemory = true;
    end.memoryStage = worker.channel.lastProgress.stage;
    end.residentBytes = resident;
    end.memoryLimit = worker.memoryLimit;
    return true;
}

bool stopWorker(WorkerProcess& worker, const AttemptEnd& end, int& exitCode) {
    const WorkerChannel& channel = worker.channel;
    platform::SignalCancellation(worker.cancelSet);
    if (end.interrupted || end.overMemory) kill(worker.pid, SIGTERM);  // stops its office at once
    if (end.interrupted) {
        int sig = platform::InterruptSignal();  // 0: a batch that stopped on its own
        writeLog(kWarn, attemptLogPrefix(channel.requestId, channel.provider) +
                            (sig ? " interrupted by signal " + std::to_string(sig)
                                 : std::string(" batch stopping")) +
                            "; cancellation requested");
    } else if (end.overMemory) {
        writeLog(kWarn, attemptLogPrefix(channel.requestId, channel.provider) +
                            " memory limit exceeded resident_mb=" + std::to_string(end.residentBytes >> 20) +
                            " limit_mb=" + std::to_string(end.memoryLimit >> 20) + "; cancellation requested");
    } else {
        writeLog(kWarn, attemptLogPrefix(channel.requestId, channel.provider) + " worker timeout; cancellation requested");
    }
    if (platform::WaitChild(worker.pid, kCancelGraceMs, exitCode)) return true;
    kill(worker.pid, SIGKILL);
    if (!platform::WaitChild(worker.pid, kTerminateWaitMs, exitCode)) return false;
    exitCode = kTimeout;
    return true;
}

bool cleanUpWorker(WorkerProcess& worker, const ProcessIdentity& identity, Provider provider, DocumentKind kind,
                   const std::string& requestId) {
    // The office the worker recorded is this attempt's own when its command line names the
    // attempt's directory; its sockets are noted before it is stopped, so none is left behind.
    const std::string& attemptDir = worker.attemptDir;
    uint32_t recorded = attemptDir.empty() ? 0 : RecordedOfficePid(attemptDir);
    bool recordedIsOurs =
        recorded != 0 && platform::CommandLineContains(static_cast<pid_t>(recorded), attemptDir + "/");
    if (recordedIsOurs) RecordOfficeSockets(attemptDir, recorded);
    bool cleaned = cleanupOfficeProcess(identity, provider, kind, worker.notBefore, requestId);
    // An office the worker started but never reported (revalidated: image name, start time).
    if (recordedIsOurs && recorded != identity.pid)
        cleaned = cleanupOfficeProcess(ProcessIdentity{recorded, true}, provider, kind, worker.notBefore, requestId) &&
                  cleaned;
    if (!attemptDir.empty()) {
        RemoveOfficeSockets(attemptDir);
        platform::RemoveTree(attemptDir);  // after the office's cleanup, whatever happened
    }
    worker.attemptDir.clear();
    CloseAll({&worker.channel.readEnd, &worker.cancelSet, &worker.jobWrite});
    worker.pid = 0;
    return cleaned;
}

int32_t runWorker(Provider provider, DocumentKind kind, const std::string& sourcePath, const std::string& outputPath,
                  int timeoutMs, const std::string& requestId, ConversionResult& result) {
    WorkerProcess worker;
    worker.channel.requestId = requestId;
    worker.channel.provider = provider;
    if (startWorker({providerText(provider), std::to_string(static_cast<int>(kind)), sourcePath, outputPath}, false,
                    worker, result) != kSuccess)
        return result.code;
    logWorkerStarted(requestId, provider, worker.pid, timeoutMs);

    auto start = std::chrono::steady_clock::now();
    AttemptEnd end;
    bool ended = false;
    for (;;) {
        if ((ended = platform::WaitChild(worker.pid, kPollMs, end.exitCode))) break;
        drainWorkerPipe(worker.channel, result);  // so that the memory check sees the current stage
        end.interrupted = platform::InterruptSignal() != 0;
        if (!end.interrupted && !passedMemoryLimit(worker, end) &&
            std::chrono::steady_clock::now() - start < std::chrono::milliseconds(timeoutMs))
            continue;
        end.timedOut = !end.interrupted && !end.overMemory;
        ended = stopWorker(worker, end, end.exitCode);
        break;
    }
    drainWorkerPipe(worker.channel, result);
    if (!ended) end.exitCode = kInternalError;

    ProcessIdentity identity = reportedOffice(worker.channel, result);
    end.cleaned = cleanUpWorker(worker, identity, provider, kind, requestId);
    decideResult(end, worker.channel, identity, result);
    logAttemptResult(requestId, provider, result);
    return result.code;
}

}  // namespace parlux
