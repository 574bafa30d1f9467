// The conversion worker: one document, one office suite, reported through the parent's pipe.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "automation/dispatch.h"
#include "providers.h"
#include "records.h"

namespace parlux {

enum ConversionStage : uint32_t {
    kStageNone = 0, kStageValidation = 1, kStageComInit = 2, kStageCreate = 3, kStageSettings = 4, kStageOpen = 5,
    kStagePrepare = 6, kStageExport = 7, kStageClose = 8, kStageQuit = 9, kStageDone = 10,
};

struct ProcessIdentity {
    uint32_t pid = 0;
    bool owned = false;
};

using ProgressCallback = void (*)(const ConversionProgress* progress, void* context);

struct ConversionRequest {
    uint32_t size = 32;
    uint32_t version = 1;
    std::string source;
    std::string output;
    int32_t kind = 1;
    int cancelFd = -1;  // readable once the parent asks to cancel; -1 for none
    ProgressCallback progressCallback = nullptr;
    void* callbackContext = nullptr;
};

// Set by the supervisor for its worker: the attempt's private directory (removed by the
// parent after the attempt) and the parent's pid.
constexpr const char* kAttemptDirVariable = "PARLUX_ATTEMPT_DIR";
constexpr const char* kParentPidVariable = "PARLUX_PARENT_PID";
// Where the office back end records the pid of the office it started, inside the attempt
// directory, so that the parent can clean it up even when the worker died before reporting it.
constexpr const char* kOfficePidFile = "office.pid";
// The socket files the office's named pipes use (one path a line), for the same reason.
constexpr const char* kOfficeSocketsFile = "office.sockets";

// The image name of the process serving (provider, kind): the registered one, else the suite's.
std::string officeImageName(Provider provider, DocumentKind kind);
// Whether one application of `provider` serves documents and workbooks: both ProgIDs are
// registered to one back end and one image name, and its application opens both kinds.
bool oneOfficeForBothKinds(Provider provider);
// What a kept office serves: the ProgID of `provider` and `kind`, or the same name for both
// kinds when one office serves them.
std::string officeKey(Provider provider, DocumentKind kind);

// The worker's command line: program, "--parlux-worker", ms|wps, kind (1 or 2), source, output,
// pipe fd, cancellation fd (each fd -1 or more; 0 or -1 for none).
struct WorkerArguments {
    Provider provider = Provider::Microsoft;
    int32_t kind = 1;
    std::string source, output;
    int pipeFd = -1;
    int cancelFd = -1;
};
// False for any other command line (the worker then exits with kInvalidArguments).
bool parseWorkerArguments(int argc, char** argv, WorkerArguments& args);
// A decimal number using up the whole of `text`, within a long long.
bool parseWholeNumber(const char* text, long long& value);
// A pipe or cancellation handle of the worker's command line, as the platform gives them.
bool parseHandleArgument(const char* text, int& handle);
// Converts the document of `args`, reporting progress and the result on its pipe; the result code.
int32_t convertForParent(const WorkerArguments& args);
// argv: program, "--parlux-worker", ms|wps, kind, source, output, pipe fd, cancellation fd; or
// program, "--parlux-worker", "--serve", pipe fd, cancellation fd, job fd for a worker that keeps
// its office between the jobs its parent sends.
int workerMain(int argc, char** argv);
int32_t convertInWorker(Provider provider, const ConversionRequest* request, ConversionResult* result);

// The steps of one conversion, which a serving worker runs with an office kept between jobs.
struct OfficeApplication {
    DispatchObject app;
    ProcessIdentity identity;
    std::string progId;  // empty when no application is held
    std::string key;     // officeKey of the jobs it takes
};
// How a document fared before its application quits: (code, stage, hr, message) of the first
// failure, and the HRESULT of closing it.
struct DocumentOutcome {
    int32_t code = kSuccess;
    uint32_t stage = 0;
    int32_t hr = 0;
    std::string message;
    int32_t closeHr = 0;
};
bool validRequest(const ConversionRequest* request, const ConversionResult* result);
// Whether the parent asked the worker to stop (the platform's cancellation object).
bool cancellationRequested(const ConversionRequest& request);
// Fills the result of a request that failed validRequest; kInvalidArguments.
int32_t rejectRequest(ConversionResult* result);
// Creates and configures the application; kSuccess, else the failure is in `result`. `kept`: it
// is kept for the jobs that follow, of either kind when one office serves both.
int32_t startApplication(Provider provider, const ConversionRequest& req, OfficeApplication& office,
                         ConversionResult* result, bool kept = false);
// Opens, prepares, exports and closes the request's document.
DocumentOutcome convertWithApplication(Provider provider, const ConversionRequest& req, OfficeApplication& office);
// Quits the application and lets it go; the HRESULT of "Quit".
int32_t quitApplication(const ConversionRequest& req, OfficeApplication& office);
// The result of the conversion from the document's outcome and the quit (0 when the office stays).
int32_t finishConversion(const ConversionRequest& req, const ProcessIdentity& identity, const DocumentOutcome& outcome,
                         int32_t quitHr, ConversionResult* result);
// Whether an office that gave this result answered as it should and may take the next document.
bool leavesOfficeUsable(int32_t code);

// A serving worker's loop: jobs from `jobFd` until it closes, each answered on `pipeFd`.
int serveJobs(int pipeFd, int cancelFd, int jobFd);
// One whole message on the pipe; errors are ignored (the parent may be gone). 0 or -1: no pipe.
void sendWorkerMessage(int fd, const WorkerMessage& message);
// The progress callback writing to the pipe descriptor `context` points to.
void sendProgressMessage(const ConversionProgress* progress, void* context);
// Without a parent nobody removes what the attempt left: `output` (when not empty) and the
// attempt directory.
void CleanUpAfterParent(const std::string& output);

ProcessIdentity identifyServerProcess(DispatchObject& app, const std::set<std::string>& imageNames,
                                      const std::set<uint32_t>& preexisting, uint64_t startTicks);
ProcessIdentity verifyOwnedProcess(uint32_t pid, const std::set<std::string>& imageNames,
                                   const std::set<uint32_t>& preexisting, uint64_t startTicks);

}  // namespace parlux
