// Supervision of one conversion attempt on Windows: the worker started with CreateProcessW, its
// inherited anonymous pipe and manual-reset cancellation event, its time limit, and the
// verified cleanup of the office process it started. The worker, and the office once it is
// verified as the attempt's own, are in a job object that ends them when the parent goes.
#include <windows.h>

#include <vector>

#include "hresult.h"
#include "kit/wide_text.h"
#include "log.h"
#include "platform/interruption.h"
#include "platform/windows_handles.h"
#include "supervision_text.h"
#include "supervisor.h"

namespace parlux {
namespace {

using platform::ScopedHandle;

constexpr DWORD kPipeBytes = 8704;
constexpr DWORD kPollMs = 50;
constexpr DWORD kCancelGraceMs = 3000;
constexpr DWORD kTerminateWaitMs = 1500;
constexpr DWORD kCloseWaitMs = 3000;

int32_t LastErrorHr() { return hresultFromWin32(static_cast<int32_t>(GetLastError())); }

int32_t FailedToStart(ConversionResult& result, int32_t hr, const char* message) {
    synthesizeResult(result, kInternalError, kStageNone, hr, ProcessIdentity(), message);
    return kInternalError;
}

std::string ProgramPath() {
    std::vector<wchar_t> path(32768);
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return std::string();
    return kit::NarrowToUtf8(std::wstring(path.data(), length));
}

// No memory limit: an allocation limit makes an office drop content silently.
HANDLE CreateAttemptJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

void Drain(HANDLE readEnd, WorkerChannel& channel, ConversionResult& result) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) ||
            available < sizeof(WorkerMessage))
            return;
        WorkerMessage message;
        DWORD read = 0;
        if (!ReadFile(readEnd, &message, sizeof message, &read, nullptr) || read != sizeof message)
            return;
        acceptWorkerMessage(channel, message, result);
    }
}

// The process `pid` opened with `rights` when it still is the office of (provider, kind) that
// started after `notBefore`; else null.
HANDLE OpenVerifiedOffice(uint32_t pid, Provider provider, DocumentKind kind, uint64_t notBefore,
                          DWORD rights) {
    ScopedHandle process(
        OpenProcess(rights | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    uint64_t created = 0;
    if (!process || platform::ProcessImageName(process.get()) != officeImageName(provider, kind) ||
        !platform::ProcessCreationTime(process.get(), created) || created < notBefore)
        return nullptr;
    return process.release();
}

// The office the worker reported as its own joins the attempt's job (once).
void AdoptOffice(HANDLE job, const ConversionProgress& progress, Provider provider,
                 DocumentKind kind, uint64_t notBefore, uint32_t& adopted) {
    if (!job || !progress.owned || progress.pid == 0 || progress.pid == adopted) return;
    adopted = progress.pid;
    ScopedHandle office(OpenVerifiedOffice(progress.pid, provider, kind, notBefore,
                                           PROCESS_SET_QUOTA | PROCESS_TERMINATE));
    if (office) AssignProcessToJobObject(job, office.get());  // fails when it is in the job already
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

bool Ended(HANDLE process, DWORD waitMs) {
    return WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
}

// The office opened for its termination when it is still the expected one, else null.
HANDLE RevalidateOfficeProcess(uint32_t pid, Provider provider, DocumentKind kind,
                               uint64_t notBefore) {
    return OpenVerifiedOffice(pid, provider, kind, notBefore, PROCESS_TERMINATE);
}

}  // namespace

bool cleanupOfficeProcess(const ProcessIdentity& identity, Provider provider, DocumentKind kind,
                          uint64_t notBefore, const std::string& requestId) {
    if (!identity.owned || identity.pid == 0) return true;
    {
        ScopedHandle probe(OpenProcess(SYNCHRONIZE, FALSE, identity.pid));
        if (!probe) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process any more
        if (Ended(probe.get(), 0)) return true;
    }
    std::string pid = std::to_string(identity.pid);
    ScopedHandle office(RevalidateOfficeProcess(identity.pid, provider, kind, notBefore));
    if (!office) {
        writeLog(
            kWarn,
            "request=" + requestId +
                " cleanup skipped because process ownership could not be revalidated pid=" + pid);
        return false;
    }
    if (Ended(office.get(), kCloseWaitMs)) return true;
    EnumWindows(CloseWindowOf, static_cast<LPARAM>(identity.pid));
    if (Ended(office.get(), kCloseWaitMs)) return true;
    bool terminated = TerminateProcess(office.get(), kCleanupFailed) != FALSE;
    if (terminated) Ended(office.get(), kTerminateWaitMs);
    if (terminated)
        writeLog(kWarn,
                 "request=" + requestId + " terminated verified conversion process pid=" + pid);
    else
        writeLog(kError, "request=" + requestId +
                             " failed to terminate verified conversion process pid=" + pid);
    return terminated;
}

int32_t runWorker(Provider provider, DocumentKind kind, const std::string& sourcePath,
                  const std::string& outputPath, int timeoutMs, const std::string& requestId,
                  ConversionResult& result) {
    result = NewResult();
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE pipeRead = nullptr, pipeWrite = nullptr;
    if (!CreatePipe(&pipeRead, &pipeWrite, &inheritable, kPipeBytes))
        return FailedToStart(result, LastErrorHr(), "Unable to create worker progress pipe.");
    ScopedHandle readEnd(pipeRead), writeEnd(pipeWrite);
    SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0);
    ScopedHandle cancel(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    if (!cancel)
        return FailedToStart(result, LastErrorHr(), "Unable to create worker cancellation event.");

    std::string commandLine;
    for (const std::string& argument :
         {ProgramPath(), std::string("--parlux-worker"), std::string(providerText(provider)),
          std::to_string(static_cast<int>(kind)), sourcePath, outputPath,
          std::to_string(reinterpret_cast<uintptr_t>(pipeWrite)),
          std::to_string(reinterpret_cast<uintptr_t>(cancel.get()))})
        commandLine += (commandLine.empty() ? "" : " ") + quoteArgument(argument);
    std::wstring wide = kit::WidenUtf8(commandLine);
    std::vector<wchar_t> line(wide.begin(), wide.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                        &started))
        return FailedToStart(result, LastErrorHr(), "Unable to start conversion worker.");
    ScopedHandle worker(started.hProcess), thread(started.hThread);
    ScopedHandle job(CreateAttemptJob());  // closed last: it ends whatever of the attempt is left
    if (job) AssignProcessToJobObject(job.get(), worker.get());
    writeEnd.reset();
    uint64_t notBefore = 0;
    platform::ProcessCreationTime(worker.get(), notBefore);
    logWorkerStarted(requestId, provider, static_cast<pid_t>(started.dwProcessId), timeoutMs);

    WorkerChannel channel;
    channel.requestId = requestId;
    channel.provider = provider;
    AttemptEnd end;
    uint32_t adopted = 0;
    ULONGLONG start = GetTickCount64();
    for (;;) {
        Drain(readEnd.get(), channel, result);
        AdoptOffice(job.get(), channel.lastProgress, provider, kind, notBefore, adopted);
        if (Ended(worker.get(), kPollMs)) break;
        end.interrupted = platform::InterruptSignal() != 0;
        if (!end.interrupted && GetTickCount64() - start < static_cast<ULONGLONG>(timeoutMs))
            continue;
        end.timedOut = !end.interrupted;
        SetEvent(cancel.get());
        writeLog(kWarn, attemptLogPrefix(requestId, provider) +
                            (end.interrupted ? " interrupted; cancellation requested"
                                             : " worker timeout; cancellation requested"));
        if (!Ended(worker.get(), kCancelGraceMs)) {
            TerminateProcess(worker.get(), kTimeout);
            Ended(worker.get(), kTerminateWaitMs);
        }
        break;
    }
    Drain(readEnd.get(), channel, result);
    DWORD exitCode = 0;
    end.exitCode = GetExitCodeProcess(worker.get(), &exitCode) ? static_cast<int32_t>(exitCode)
                                                               : kInternalError;

    ProcessIdentity identity = reportedOffice(channel, result);
    end.cleaned = cleanupOfficeProcess(identity, provider, kind, notBefore, requestId);
    decideResult(end, channel, identity, result);
    logAttemptResult(requestId, provider, result);
    return result.code;
}

}  // namespace parlux
