#include "worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "attempt_files.h"
#include "automation/document_ops.h"
#include "backend.h"
#include "class_registry.h"
#include "hresult.h"
#include "log.h"
#include "platform/private_dirs.h"
#include "platform/processes.h"
#include "platform/worker_signals.h"
#include "text.h"

namespace parlux {
namespace {

bool Cancelled(const ConversionRequest& request) {
    if (platform::StopRequested()) return true;
    if (request.cancelFd < 0) return false;
    struct pollfd fd = {request.cancelFd, POLLIN, 0};
    return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

void reportProgress(const ConversionRequest& request, uint32_t stage, int32_t hr, const std::string& message,
                    const ProcessIdentity& identity) {
    if (!request.progressCallback) return;
    ConversionProgress progress = NewProgress();
    progress.stage = stage;
    progress.hr = hr;
    progress.pid = identity.pid;
    progress.owned = identity.owned ? 1 : 0;
    SetMessage(progress.message, message);
    request.progressCallback(&progress, request.callbackContext);
}

void Fill(ConversionResult* result, int32_t code, uint32_t stage, int32_t hr, const ProcessIdentity& identity,
          const std::string& message) {
    if (!result) return;
    *result = NewResult();
    result->code = code;
    result->stage = stage;
    result->hr = hr;
    result->pid = identity.pid;
    result->owned = identity.owned ? 1 : 0;
    SetMessage(result->message, message);
}

void WriteMessage(int fd, const WorkerMessage& message) {
    if (fd <= 0) return;
    ssize_t n;
    do {
        n = write(fd, &message, sizeof message);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EPIPE) platform::NoteParentUnreachable();  // nobody supervises any more
}

void writeProgressMessage(const ConversionProgress* progress, void* context) {
    if (!progress || !context) return;
    WriteMessage(*static_cast<int*>(context), ProgressMessage(*progress));
}

bool ParseWhole(const char* text, long long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return *end == '\0' && errno == 0;
}

// A descriptor argument: -1 or more, within an int.
bool ParseFd(const char* text, int& fd) {
    long long value = 0;
    if (!ParseWhole(text, value) || value < -1 || value > INT_MAX) return false;
    fd = static_cast<int>(value);
    return true;
}

}  // namespace

void CleanUpAfterParent(const std::string& output) {
    struct stat st;
    if (!output.empty() && lstat(output.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) unlink(output.c_str());
    const char* attemptDir = std::getenv(kAttemptDirVariable);
    if (!attemptDir || !*attemptDir) return;
    RemoveOfficeSockets(attemptDir);
    platform::RemoveTree(attemptDir);
}

std::string officeImageName(Provider provider, DocumentKind kind) {
    ClassEntry entry;
    if (ClassRegistry::Load().Resolve(progId(provider, kind), entry) >= 0 && !entry.imageName.empty())
        return AsciiLower(entry.imageName);
    return imageName(provider, kind);
}

ProcessIdentity verifyOwnedProcess(uint32_t pid, const std::set<std::string>& imageNames,
                                   const std::set<uint32_t>& preexisting, uint64_t startTicks) {
    ProcessIdentity identity;
    identity.pid = pid;
    if (pid == 0 || preexisting.count(pid)) return identity;
    uint64_t started = 0;
    if (!platform::ProcessStartTicks(static_cast<pid_t>(pid), started)) return identity;
    identity.owned = imageNames.count(platform::ProcessImageName(static_cast<pid_t>(pid))) > 0 && started >= startTicks;
    return identity;
}

ProcessIdentity identifyServerProcess(DispatchObject& app, const std::set<std::string>& imageNames,
                                      const std::set<uint32_t>& preexisting, uint64_t startTicks) {
    // The window handle names the serving process (on Linux the back end reports the pid).
    Variant handle;
    bool got = app.getProperty("Hwnd", {}, handle) >= 0 || app.getProperty("HWnd", {}, handle) >= 0;
    if (!got) {
        Variant window;
        DispatchObject active;
        if (app.getProperty("ActiveWindow", {}, window) >= 0 && DispatchObject::toDispatch(window, active) >= 0)
            got = active.getProperty("Hwnd", {}, handle) >= 0 || active.getProperty("HWnd", {}, handle) >= 0;
    }
    int32_t value = 0;
    if (got && VariantToInt32(handle, value) && value != 0)
        return verifyOwnedProcess(static_cast<uint32_t>(value), imageNames, preexisting, startTicks);
    ProcessIdentity found;
    int owned = 0;
    for (uint32_t pid : platform::ListProcessesByImage(imageNames)) {
        if (preexisting.count(pid)) continue;
        ProcessIdentity candidate = verifyOwnedProcess(pid, imageNames, preexisting, startTicks);
        if (candidate.owned) {
            found = candidate;
            ++owned;
        }
    }
    return owned == 1 ? found : ProcessIdentity();
}

bool validRequest(const ConversionRequest* request, const ConversionResult* result) {
    return request && result && request->size >= 32 && request->version == 1 && !request->source.empty() &&
           !request->output.empty() && (request->kind == 1 || request->kind == 2);
}

int32_t rejectRequest(ConversionResult* result) {
    Fill(result, kInvalidArguments, kStageValidation, kHrInvalidArgument, ProcessIdentity(),
         "Invalid conversion request.");
    return kInvalidArguments;
}

bool leavesOfficeUsable(int32_t code) {
    return code == kSuccess || code == kPasswordProtected || code == kNoContent || code == kOpenFailed;
}

int32_t startApplication(Provider provider, const ConversionRequest& req, OfficeApplication& office,
                         ConversionResult* result) {
    ProcessIdentity none;
    DocumentKind kind = static_cast<DocumentKind>(req.kind);
    reportProgress(req, kStageComInit, 0, "Initializing COM.", none);
    if (Cancelled(req)) {
        Fill(result, kTimeout, kStageComInit, kHrCancelled, none, "Conversion was cancelled.");
        return kTimeout;
    }
    ClassEntry entry;
    std::string id = progId(provider, kind);
    int32_t hr = ClassRegistry::Load().Resolve(id, entry);
    std::set<std::string> imageNames = {officeImageName(provider, kind)};
    uint64_t startTicks = platform::TicksNow();
    std::set<uint32_t> preexisting = platform::ListProcessesByImage(imageNames);
    reportProgress(req, kStageCreate, 0, "Creating " + id + ".", none);
    DispatchObject app;
    std::string reason;
    if (hr >= 0) hr = CreateApplication(id, entry, app, reason);
    if (hr < 0 && !reason.empty()) writeLog(kWarn, "office back end " + entry.backend + " failed: " + reason);
    if (hr == kHrAccessDenied) {  // the back end refused to run on files others could have changed
        Fill(result, kInternalError, kStageCreate, hr, none, reason);
        return kInternalError;
    }
    if (hr < 0) {
        Fill(result, kProviderUnavailable, kStageCreate, hr, none, "Unable to create the requested Office application.");
        return kProviderUnavailable;
    }
    ProcessIdentity identity = identifyServerProcess(app, imageNames, preexisting, startTicks);
    reportProgress(req, kStageCreate, 0,
                   identity.owned ? "Application created and process ownership verified."
                                  : "Application created; process ownership could not be verified.",
                   identity);

    reportProgress(req, kStageSettings, 0, "Configuring non-interactive application settings.", identity);
    int32_t firstFailure = 0;
    auto setting = [&](const char* name, const Variant& value) {
        int32_t r = app.putProperty(name, value);
        if (r < 0 && firstFailure == 0) firstFailure = r;
    };
    setting("Visible", Variant::Flag(false));
    setting("DisplayAlerts", Variant::Int(0));
    setting("AutomationSecurity", Variant::Int(3));
    if (kind == DocumentKind::Workbook) setting("AskToUpdateLinks", Variant::Flag(false));
    if (firstFailure < 0)
        reportProgress(req, kStageSettings, firstFailure, "One or more optional application settings are unavailable.",
                       identity);
    office.app = app;
    office.identity = identity;
    office.progId = id;
    return kSuccess;
}

DocumentOutcome convertWithApplication(Provider provider, const ConversionRequest& req, OfficeApplication& office) {
    DocumentKind kind = static_cast<DocumentKind>(req.kind);
    const ProcessIdentity& identity = office.identity;
    DocumentOutcome outcome;
    auto fail = [&](int32_t c, uint32_t s, int32_t h, const std::string& m) {
        outcome.code = c, outcome.stage = s, outcome.hr = h, outcome.message = m;
    };
    DispatchObject document;
    if (Cancelled(req)) {
        fail(kTimeout, kStageOpen, kHrCancelled, "Conversion was cancelled before opening the document.");
    } else {
        reportProgress(req, kStageOpen, 0, "Opening source document.", identity);
        std::string errorText;
        int32_t r = kind == DocumentKind::WordDocument ? openWordDocument(office.app, req.source, document, errorText)
                                                       : openWorkbook(office.app, req.source, document, errorText);
        if (r < 0)
            fail(isPasswordError(r, errorText) ? kPasswordProtected : kOpenFailed, kStageOpen, r,
                 errorText.empty() ? "Unable to open the source document." : errorText);
    }
    if (outcome.code == kSuccess) {
        if (Cancelled(req)) {
            fail(kTimeout, kStagePrepare, kHrCancelled, "Conversion was cancelled after opening the document.");
        } else {
            reportProgress(req, kStagePrepare, 0, "Inspecting document content.", identity);
            if (kind == DocumentKind::WordDocument) {
                int32_t r = configureFinalRevisionView(provider, document);
                if (r < 0) fail(kExportFailed, kStagePrepare, r, "Unable to configure the final revision view.");
            } else {
                bool has = false;
                int32_t r = workbookHasContent(document, has);
                if (r < 0) {
                    fail(kInternalError, kStagePrepare, r, "Unable to inspect all workbook sheets.");
                } else if (!has) {
                    fail(kNoContent, kStagePrepare, 0, "The workbook contains no cell, drawing, or chart content.");
                } else if ((r = applyPrintSafeLayout(provider, document)) < 0) {
                    fail(kExportFailed, kStagePrepare, r, "Unable to configure a print-safe worksheet layout.");
                }
            }
        }
    }
    if (outcome.code == kSuccess) {
        if (Cancelled(req)) {
            fail(kTimeout, kStageExport, kHrCancelled, "Conversion was cancelled before export.");
        } else {
            reportProgress(req, kStageExport, 0, "Exporting PDF.", identity);
            int32_t r = kind == DocumentKind::WordDocument ? exportWordPdf(provider, document, req.output)
                                                           : exportWorkbookPdf(document, req.output);
            if (r < 0) fail(kExportFailed, kStageExport, r, "Office reported a PDF export failure.");
        }
    }
    reportProgress(req, kStageClose, 0, "Closing source document.", identity);
    outcome.closeHr = document.valid() ? document.callMethod("Close", {Variant::Flag(false)}) : 0;
    return outcome;
}

int32_t quitApplication(const ConversionRequest& req, OfficeApplication& office) {
    reportProgress(req, kStageQuit, 0, "Quitting Office application.", office.identity);
    int32_t quitHr = office.app.callMethod("Quit", {});
    office.app = DispatchObject();
    office.progId.clear();
    return quitHr;
}

int32_t finishConversion(const ConversionRequest& req, const ProcessIdentity& identity, const DocumentOutcome& outcome,
                         int32_t quitHr, ConversionResult* result) {
    if (outcome.code == kSuccess) {
        if (outcome.closeHr < 0 || quitHr < 0) {
            Fill(result, kCleanupFailed, outcome.closeHr < 0 ? kStageClose : kStageQuit,
                 outcome.closeHr < 0 ? outcome.closeHr : quitHr, identity,
                 "PDF was exported but the Office application did not close cleanly.");
            return kCleanupFailed;
        }
        reportProgress(req, kStageDone, 0, "Conversion completed.", identity);
        Fill(result, kSuccess, kStageDone, 0, identity, "Conversion completed.");
        return kSuccess;
    }
    Fill(result, outcome.code, outcome.stage, outcome.hr, identity, outcome.message);
    return outcome.code;
}

int32_t convertInWorker(Provider provider, const ConversionRequest* request, ConversionResult* result) {
    if (result) *result = NewResult();
    if (!validRequest(request, result)) return rejectRequest(result);
    OfficeApplication office;
    int32_t code = startApplication(provider, *request, office, result);
    if (code != kSuccess) return code;
    DocumentOutcome outcome = convertWithApplication(provider, *request, office);
    ProcessIdentity identity = office.identity;
    int32_t quitHr = quitApplication(*request, office);
    return finishConversion(*request, identity, outcome, quitHr, result);
}

namespace {

// The descriptors a worker inherits: close-on-exec from now on (the office processes it starts
// must not hold the parent's pipes or event); false when the parent is already gone.
bool AdoptParentDescriptors(std::initializer_list<int> fds, int cancelFd) {
    for (int fd : fds)
        if (fd > 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    long long parent = 0;
    const char* parentText = std::getenv(kParentPidVariable);
    return !(parentText && ParseWhole(parentText, parent) && parent > 0 &&
             !platform::InstallWorkerSignals(static_cast<pid_t>(parent), cancelFd));
}

// argv: program, "--parlux-worker", "--serve", pipe fd, cancellation fd, job fd.
int serveMain(char** argv) {
    int pipe = -1, cancel = -1, jobs = -1;
    if (!ParseFd(argv[3], pipe) || !ParseFd(argv[4], cancel) || !ParseFd(argv[5], jobs) || pipe <= 0 || jobs <= 0)
        return kInvalidArguments;
    if (cancel <= 0) cancel = -1;
    int code = AdoptParentDescriptors({pipe, cancel, jobs}, cancel) ? serveJobs(pipe, cancel, jobs) : kInternalError;
    close(pipe);
    close(jobs);
    if (cancel > 0) close(cancel);
    if (platform::ParentGone()) CleanUpAfterParent(std::string());
    return code;
}

}  // namespace

bool parseWorkerArguments(int argc, char** argv, WorkerArguments& args) {
    if (argc != 8) return false;
    std::string providerArg = argv[2];
    if (providerArg != "ms" && providerArg != "wps") return false;
    long long kind = 0;
    if (!ParseWhole(argv[3], kind) || argv[3][0] == '-' || argv[3][0] == '+' || (kind != 1 && kind != 2))
        return false;
    if (!ParseFd(argv[6], args.pipeFd) || !ParseFd(argv[7], args.cancelFd)) return false;
    args.provider = providerArg == "ms" ? Provider::Microsoft : Provider::Wps;
    args.kind = static_cast<int32_t>(kind);
    args.source = argv[4];
    args.output = argv[5];
    return true;
}

void sendWorkerMessage(int fd, const WorkerMessage& message) { WriteMessage(fd, message); }

void sendProgressMessage(const ConversionProgress* progress, void* context) { writeProgressMessage(progress, context); }

int workerMain(int argc, char** argv) {
    // The office's connection may close while references are still released over it: that
    // must be an error on the write, not a signal that kills the worker before its result.
    signal(SIGPIPE, SIG_IGN);
    if (argc == 6 && std::strcmp(argv[2], "--serve") == 0) return serveMain(argv);
    WorkerArguments args;
    if (!parseWorkerArguments(argc, argv, args)) return kInvalidArguments;
    int pipeHandle = args.pipeFd;
    ConversionRequest request;
    request.source = args.source;
    request.output = args.output;
    request.kind = args.kind;
    request.cancelFd = args.cancelFd > 0 ? args.cancelFd : -1;
    if (!AdoptParentDescriptors({pipeHandle, request.cancelFd}, request.cancelFd)) {
        CleanUpAfterParent(request.output);  // started by a parent that is already gone
        return kInternalError;
    }
    request.progressCallback = writeProgressMessage;
    request.callbackContext = &pipeHandle;
    ConversionResult result;
    std::memset(&result, 0, sizeof result);
    convertInWorker(args.provider, &request, &result);
    if (pipeHandle != 0 && pipeHandle != -1) WriteMessage(pipeHandle, ResultMessage(result));
    if (pipeHandle > 0) close(pipeHandle);
    if (request.cancelFd > 0) close(request.cancelFd);
    if (platform::ParentGone()) CleanUpAfterParent(request.output);
    return result.code;
}

}  // namespace parlux
