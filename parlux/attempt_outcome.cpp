// What an attempt's messages, its end and its cleanup make of its result, and the lines it logs:
// the same on every platform.
#include "hresult.h"
#include "log.h"
#include "supervisor.h"

namespace parlux {

std::string attemptLogPrefix(const std::string& requestId, Provider provider) {
    return "request=" + requestId + " provider=" + providerText(provider);
}

void synthesizeResult(ConversionResult& result, int32_t code, uint32_t stage, int32_t hr,
                      const ProcessIdentity& identity, const std::string& message) {
    result = NewResult();
    result.code = code;
    result.stage = stage;
    result.hr = hr;
    result.pid = identity.pid;
    result.owned = identity.owned ? 1 : 0;
    SetMessage(result.message, message);
}

void acceptWorkerMessage(WorkerChannel& channel, const WorkerMessage& message,
                         ConversionResult& result) {
    if (!IsWellFormed(message)) return;
    if (message.kind == kProgressMessage) {
        channel.lastProgress = message.progress;
        const ConversionProgress& p = message.progress;
        writeLog(p.hr < 0 ? kWarn : kDebug,
                 attemptLogPrefix(channel.requestId, channel.provider) +
                     " stage=" + std::to_string(p.stage) + " hr=" + formatHresult(p.hr) +
                     " pid=" + std::to_string(p.pid) + " owned=" + (p.owned ? "true" : "false") +
                     " message=" + MessageText(p.message));
    } else if (message.kind == kResultMessage) {
        result = message.result;
        channel.resultReceived = true;
    }
}

void logWorkerStarted(const std::string& requestId, Provider provider, pid_t worker,
                      int timeoutMs) {
    writeLog(kInfo, attemptLogPrefix(requestId, provider) + " worker_pid=" +
                        std::to_string(worker) + " timeout_ms=" + std::to_string(timeoutMs));
}

ProcessIdentity reportedOffice(const WorkerChannel& channel, const ConversionResult& result) {
    if (channel.resultReceived && result.pid != 0)
        return ProcessIdentity{result.pid, result.owned != 0};
    return ProcessIdentity{channel.lastProgress.pid, channel.lastProgress.owned != 0};
}

void decideResult(const AttemptEnd& end, const WorkerChannel& channel,
                  const ProcessIdentity& identity, ConversionResult& result) {
    if (!end.cleaned) {
        synthesizeResult(result, kCleanupFailed, kStageQuit, kHrAccessDenied, identity,
                         "Unable to safely clean up the verified conversion process.");
    } else if (end.interrupted) {
        synthesizeResult(result, kTimeout, channel.lastProgress.stage, kHrCancelled, identity,
                         "Conversion was cancelled.");
    } else if (end.timedOut) {
        synthesizeResult(result, kTimeout, channel.lastProgress.stage, kHrTimedOut, identity,
                         "Conversion exceeded the configured timeout.");
    } else if (end.overMemory) {
        // The failure of the stage it was in: what the office was doing could not be done.
        int32_t code = end.memoryStage == kStageOpen     ? kOpenFailed
                       : end.memoryStage == kStageExport ? kExportFailed
                                                         : kInternalError;
        synthesizeResult(result, code, end.memoryStage, kHrOutOfMemory, identity,
                         "Conversion exceeded the memory limit of " +
                             std::to_string(end.memoryLimit >> 20) + " MB.");
    } else if (!channel.resultReceived) {
        // -1 is exit status 255 on Linux; success needs a result message, so a bare exit status 1
        // is not one.
        int32_t code = end.exitCode == 255 || end.exitCode == kInvalidArguments ? kInvalidArguments
                       : end.exitCode > kSuccess && end.exitCode <= kInternalError ? end.exitCode
                                                                                   : kInternalError;
        synthesizeResult(result, code, channel.lastProgress.stage, kHrProcessAborted, identity,
                         "Worker exited without a complete result message.");
    }
}

void logAttemptResult(const std::string& requestId, Provider provider,
                      const ConversionResult& result) {
    writeLog(result.code == kSuccess ? kInfo : kWarn, attemptLogPrefix(requestId, provider) +
                                                          " result=" + resultName(result.code) +
                                                          " hr=" + formatHresult(result.hr));
}

}  // namespace parlux
