// The worker process on Windows: the inherited pipe handle and manual-reset event, given as
// numbers on its command line, and its messages to the parent.
#include <windows.h>

#include <cstdint>

#include "worker.h"

namespace parlux {
namespace {

HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

bool IsHandle(int value) { return value != 0 && value != -1; }

}  // namespace

// A decimal 64-bit number, narrowed to the handle's width (a handle value fits in 32 bits,
// sign-extended).
bool parseHandleArgument(const char* text, int& handle) {
    long long value = 0;
    if (!parseWholeNumber(text, value)) return false;
    handle = static_cast<int>(value);
    return true;
}

void sendWorkerMessage(int pipe, const WorkerMessage& message) {
    if (!IsHandle(pipe)) return;
    DWORD written = 0;
    WriteFile(AsHandle(pipe), &message, sizeof message, &written, nullptr);
}

bool cancellationRequested(const ConversionRequest& request) {
    return IsHandle(request.cancelFd) &&
           WaitForSingleObject(AsHandle(request.cancelFd), 0) == WAIT_OBJECT_0;
}

int workerMain(int argc, char** argv) {
    WorkerArguments args;
    if (!parseWorkerArguments(argc, argv, args)) return kInvalidArguments;
    int32_t code = convertForParent(args);
    if (IsHandle(args.pipeFd)) CloseHandle(AsHandle(args.pipeFd));
    if (IsHandle(args.cancelFd)) CloseHandle(AsHandle(args.cancelFd));
    return code;
}

}  // namespace parlux
