#include "worker.h"

#include "automation/document_ops.h"
#include "backend.h"
#include "class_registry.h"
#include "hresult.h"
#include "log.h"
#include "platform/processes.h"
#include "text.h"

namespace parlux {
namespace {

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

}  // namespace

std::string officeImageName(Provider provider, DocumentKind kind) {
    ClassEntry entry;
    if (ClassRegistry::Load().Resolve(progId(provider, kind), entry) >= 0 && !entry.imageName.empty())
        return AsciiLower(entry.imageName);
    return imageName(provider, kind);
}

bool oneOfficeForBothKinds(Provider provider) {
    ClassRegistry registry = ClassRegistry::Load();
    ClassEntry word, workbook;
    return registry.Resolve(progId(provider, DocumentKind::WordDocument), word) >= 0 &&
           registry.Resolve(progId(provider, DocumentKind::Workbook), workbook) >= 0 && word.backend == workbook.backend &&
           !word.imageName.empty() && AsciiLower(word.imageName) == AsciiLower(workbook.imageName) &&
           OpensBothKinds(word);
}

std::string officeKey(Provider provider, DocumentKind kind) {
    if (!oneOfficeForBothKinds(provider)) return progId(provider, kind);
    return std::string(progId(provider, DocumentKind::WordDocument)) + "+" + progId(provider, DocumentKind::Workbook);
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
    // The window handle names the serving process.
    Variant handle;
    bool got = app.getProperty("Hwnd", {}, handle) >= 0 || app.getProperty("HWnd", {}, handle) >= 0;
    if (!got) {
        Variant window;
        DispatchObject active;
        if (app.getProperty("ActiveWindow", {}, window) >= 0 && DispatchObject::toDispatch(window, active) >= 0)
            got = active.getProperty("Hwnd", {}, handle) >= 0 || active.getProperty("HWnd", {}, handle) >= 0;
    }
    int32_t value = 0;
    uint32_t owner = got && VariantToInt32(handle, value) && value != 0 ? platform::WindowProcessId(value) : 0;
    if (owner != 0) return verifyOwnedProcess(owner, imageNames, preexisting, startTicks);
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
                         ConversionResult* result, bool kept) {
    ProcessIdentity none;
    DocumentKind kind = static_cast<DocumentKind>(req.kind);
    reportProgress(req, kStageComInit, 0, "Initializing COM.", none);
    int32_t hr = InitializeAutomation();
    if (hr < 0) {
        Fill(result, kInternalError, kStageComInit, hr, none, "Unable to initialize the STA COM apartment.");
        return kInternalError;
    }
    if (cancellationRequested(req)) {
        ShutdownAutomation();
        Fill(result, kTimeout, kStageComInit, kHrCancelled, none, "Conversion was cancelled.");
        return kTimeout;
    }
    ClassEntry entry;
    std::string id = progId(provider, kind);
    hr = ClassRegistry::Load().Resolve(id, entry);
    std::set<std::string> imageNames = {officeImageName(provider, kind)};
    uint64_t startTicks = platform::TicksNow();
    std::set<uint32_t> preexisting = platform::ListProcessesByImage(imageNames);
    reportProgress(req, kStageCreate, 0, "Creating " + id + ".", none);
    DispatchObject app;
    std::string reason;
    if (hr >= 0) hr = CreateApplication(id, entry, app, reason);
    if (hr < 0 && !reason.empty()) writeLog(kWarn, "office back end " + entry.backend + " failed: " + reason);
    if (hr == kHrAccessDenied && entry.backend == "libreoffice") {  // it refused files others could change
        ShutdownAutomation();
        Fill(result, kInternalError, kStageCreate, hr, none, reason);
        return kInternalError;
    }
    if (hr < 0) {
        ShutdownAutomation();
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
    // A kept office that may open workbooks later never updates their links either.
    bool bothKinds = kept && oneOfficeForBothKinds(provider);
    if (kind == DocumentKind::Workbook || bothKinds) setting("AskToUpdateLinks", Variant::Flag(false));
    if (firstFailure < 0)
        reportProgress(req, kStageSettings, firstFailure, "One or more optional application settings are unavailable.",
                       identity);
    office.app = app;
    office.identity = identity;
    office.progId = id;
    office.key = bothKinds ? officeKey(provider, kind) : id;
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
    if (cancellationRequested(req)) {
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
        if (cancellationRequested(req)) {
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
        if (cancellationRequested(req)) {
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
    office.key.clear();
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
    ShutdownAutomation();
    return finishConversion(*request, identity, outcome, quitHr, result);
}

}  // namespace parlux
