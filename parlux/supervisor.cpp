#include "supervisor.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "attempt_files.h"
#include "hresult.h"
#include "log.h"
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

std::string Prefix(const std::string& requestId, Provider provider) {
    return "request=" + requestId + " provider=" + providerText(provider);
}

// A result the supervisor writes itself.
void Synthesize(ConversionResult& result, int32_t code, uint32_t stage, int32_t hr, const ProcessIdentity& identity,
                const std::string& message) {
    result = NewResult();
    result.code = code;
    result.stage = stage;
    result.hr = hr;
    result.pid = identity.pid;
    result.owned = identity.owned ? 1 : 0;
    SetMessage(result.message, message);
}

int32_t FailedToStart(ConversionResult& result, int error, const char* message) {
    Synthesize(result, kInternalError, kStageNone, hresultFromWin32(win32FromErrno(error)), ProcessIdentity(), message);
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
        if (!IsWellFormed(message)) continue;
        if (message.kind == kProgressMessage) {
            channel.lastProgress = message.progress;
            const ConversionProgress& p = message.progress;
            writeLog(p.hr < 0 ? kWarn : kDebug,
                     Prefix(channel.requestId, channel.provider) + " stage=" + std::to_string(p.stage) +
                         " hr=" + formatHresult(p.hr) + " pid=" + std::to_string(p.pid) +
                         " owned=" + (p.owned ? "true" : "false") + " message=" + MessageText(p.message));
        } else if (message.kind == kResultMessage) {
            result = message.result;
            channel.resultReceived = true;
        }
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

}  // namespace

int32_t runWorker(Provider provider, DocumentKind kind, const std::string& sourcePath, const std::string& outputPath,
                  int timeoutMs, const std::string& requestId, ConversionResult& result) {
    result = NewResult();
    WorkerChannel channel;
    channel.requestId = requestId;
    channel.provider = provider;
    int writeEnd = -1, cancelSet = -1, cancelWait = -1;
    if (!platform::CreateWorkerPipe(channel.readEnd, writeEnd))
        return FailedToStart(result, errno, "Unable to create worker progress pipe.");
    if (!platform::CreateCancellation(cancelSet, cancelWait)) {
        int error = errno;
        platform::CloseDescriptor(channel.readEnd);
        platform::CloseDescriptor(writeEnd);
        return FailedToStart(result, error, "Unable to create worker cancellation event.");
    }
    // Everything the attempt writes besides the temporary PDF lives here, and goes with it.
    std::string attemptDir = platform::MakePrivateDirectory("parlux");
    if (attemptDir.empty() || mkdir((attemptDir + "/tmp").c_str(), 0700) != 0) {
        int error = errno;
        platform::RemoveTree(attemptDir);
        for (int* fd : {&writeEnd, &channel.readEnd, &cancelSet, &cancelWait}) platform::CloseDescriptor(*fd);
        return FailedToStart(result, error, "Unable to create the attempt's private directory.");
    }
    // The worker parses this command line back into the same arguments.
    std::string commandLine;
    for (const std::string& argument :
         {platform::ProgramPath(), std::string("--parlux-worker"), std::string(providerText(provider)),
          std::to_string(static_cast<int>(kind)), sourcePath, outputPath, std::to_string(writeEnd),
          std::to_string(cancelWait)})
        commandLine += (commandLine.empty() ? "" : " ") + quoteArgument(argument);
    platform::SpawnOptions options;
    options.environment = WorkerEnvironment(attemptDir);
    options.parentDeathSignal = SIGTERM;  // a worker without its parent stops and cleans up
    pid_t worker = platform::SpawnProcess(splitQuotedArguments(commandLine), options);
    if (worker == 0) {
        int error = errno;
        for (int* fd : {&writeEnd, &channel.readEnd, &cancelSet, &cancelWait}) platform::CloseDescriptor(*fd);
        platform::RemoveTree(attemptDir);
        return FailedToStart(result, error, "Unable to start conversion worker.");
    }
    platform::CloseDescriptor(writeEnd);
    platform::CloseDescriptor(cancelWait);
    uint64_t notBefore = 0;
    platform::ProcessStartTicks(worker, notBefore);
    writeLog(kInfo, Prefix(requestId, provider) + " worker_pid=" + std::to_string(worker) +
                        " timeout_ms=" + std::to_string(timeoutMs));

    auto start = std::chrono::steady_clock::now();
    bool timedOut = false, interrupted = false, ended = false;
    int exitCode = kInternalError;
    for (;;) {
        drainWorkerPipe(channel, result);
        if ((ended = platform::WaitChild(worker, kPollMs, exitCode))) break;
        interrupted = platform::InterruptSignal() != 0;
        if (!interrupted && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(timeoutMs)) continue;
        timedOut = !interrupted;
        platform::SignalCancellation(cancelSet);
        if (interrupted) {
            kill(worker, SIGTERM);  // stops its office at once
            writeLog(kWarn, Prefix(requestId, provider) + " interrupted by signal " +
                                std::to_string(platform::InterruptSignal()) + "; cancellation requested");
        } else {
            writeLog(kWarn, Prefix(requestId, provider) + " worker timeout; cancellation requested");
        }
        if (!(ended = platform::WaitChild(worker, kCancelGraceMs, exitCode))) {
            kill(worker, SIGKILL);
            ended = platform::WaitChild(worker, kTerminateWaitMs, exitCode);
            if (ended) exitCode = kTimeout;
        }
        break;
    }
    drainWorkerPipe(channel, result);
    if (!ended) exitCode = kInternalError;

    ProcessIdentity identity{channel.lastProgress.pid, channel.lastProgress.owned != 0};
    if (channel.resultReceived && result.pid != 0) identity = ProcessIdentity{result.pid, result.owned != 0};
    bool cleaned = cleanupOfficeProcess(identity, provider, kind, notBefore, requestId);
    // An office the worker started but never reported: this attempt's own when its command line
    // names the attempt's directory and the revalidation (image name, start time) holds.
    uint32_t recorded = RecordedOfficePid(attemptDir);
    if (recorded != 0 && recorded != identity.pid &&
        platform::CommandLineContains(static_cast<pid_t>(recorded), attemptDir + "/"))
        cleaned = cleanupOfficeProcess(ProcessIdentity{recorded, true}, provider, kind, notBefore, requestId) && cleaned;
    if (!cleaned) {
        Synthesize(result, kCleanupFailed, kStageQuit, kHrAccessDenied, identity,
                   "Unable to safely clean up the verified conversion process.");
    } else if (interrupted) {
        Synthesize(result, kTimeout, channel.lastProgress.stage, kHrCancelled, identity, "Conversion was cancelled.");
    } else if (timedOut) {
        Synthesize(result, kTimeout, channel.lastProgress.stage, kHrTimedOut, identity,
                   "Conversion exceeded the configured timeout.");
    } else if (!channel.resultReceived) {
        // Exit status 255 is -1; success needs a result message, so a bare exit status 1 is not one.
        int32_t code = exitCode == 255 ? kInvalidArguments
                       : exitCode > kSuccess && exitCode <= kInternalError ? exitCode
                                                                            : kInternalError;
        Synthesize(result, code, channel.lastProgress.stage, kHrProcessAborted, identity,
                   "Worker exited without a complete result message.");
    }
    RemoveOfficeSockets(attemptDir);
    platform::RemoveTree(attemptDir);  // after the office's cleanup, whatever happened
    platform::CloseDescriptor(channel.readEnd);
    platform::CloseDescriptor(cancelSet);
    writeLog(result.code == kSuccess ? kInfo : kWarn, Prefix(requestId, provider) + " result=" +
                                                          resultName(result.code) + " hr=" + formatHresult(result.hr));
    return result.code;
}

}  // namespace parlux
