// The worker process on Windows: the inherited pipe handle and manual-reset event, given as
// numbers on its command line, and its messages to the parent.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "worker.h"

namespace parlux {
namespace {

// A handle number of the command line: a decimal 64-bit number using up the whole argument,
// narrowed to the handle's width (a handle value fits in 32 bits, sign-extended).
bool ParseHandle(const char* text, int& handle) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno != 0) return false;
    handle = static_cast<int>(value);
    return true;
}

HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

// One write of a whole message; errors are ignored (the parent may be gone).
void WriteMessage(int pipe, const WorkerMessage& message) {
    if (pipe == 0 || pipe == -1) return;
    DWORD written = 0;
    WriteFile(AsHandle(pipe), &message, sizeof message, &written, nullptr);
}

void writeProgressMessage(const ConversionProgress* progress, void* context) {
    if (!progress || !context) return;
    WriteMessage(*static_cast<int*>(context), ProgressMessage(*progress));
}

}  // namespace

bool cancellationRequested(const ConversionRequest& request) {
    return request.cancelFd != 0 && request.cancelFd != -1 &&
           WaitForSingleObject(AsHandle(request.cancelFd), 0) == WAIT_OBJECT_0;
}

bool parseWorkerArguments(int argc, char** argv, WorkerArguments& args) {
    if (argc != 8) return false;
    std::string providerArg = argv[2];
    if (providerArg != "ms" && providerArg != "wps") return false;
    char* end = nullptr;
    errno = 0;
    unsigned long kind = std::strtoul(argv[3], &end, 10);
    if (!*argv[3] || *end != '\0' || errno != 0 || argv[3][0] == '-' || argv[3][0] == '+' ||
        (kind != 1 && kind != 2))
        return false;
    if (!ParseHandle(argv[6], args.pipeFd) || !ParseHandle(argv[7], args.cancelFd)) return false;
    args.provider = providerArg == "ms" ? Provider::Microsoft : Provider::Wps;
    args.kind = static_cast<int32_t>(kind);
    args.source = argv[4];
    args.output = argv[5];
    return true;
}

int workerMain(int argc, char** argv) {
    WorkerArguments args;
    if (!parseWorkerArguments(argc, argv, args)) return kInvalidArguments;
    int pipeHandle = args.pipeFd;
    ConversionRequest request;
    request.source = args.source;
    request.output = args.output;
    request.kind = args.kind;
    request.cancelFd = args.cancelFd;
    request.progressCallback = writeProgressMessage;
    request.callbackContext = &pipeHandle;
    ConversionResult result;
    std::memset(&result, 0, sizeof result);
    convertInWorker(args.provider, &request, &result);
    WriteMessage(pipeHandle, ResultMessage(result));
    if (pipeHandle != 0 && pipeHandle != -1) CloseHandle(AsHandle(pipeHandle));
    if (request.cancelFd != 0 && request.cancelFd != -1) CloseHandle(AsHandle(request.cancelFd));
    return result.code;
}

}  // namespace parlux
