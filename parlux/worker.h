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
int workerMain(int argc, char** argv);
int32_t convertInWorker(Provider provider, const ConversionRequest* request, ConversionResult* result);

ProcessIdentity identifyServerProcess(DispatchObject& app, const std::set<std::string>& imageNames,
                                      const std::set<uint32_t>& preexisting, uint64_t startTicks);
ProcessIdentity verifyOwnedProcess(uint32_t pid, const std::set<std::string>& imageNames,
                                   const std::set<uint32_t>& preexisting, uint64_t startTicks);

}  // namespace parlux
