// The worker's command line and its one conversion for the parent, on every platform; the
// handles it names and the messages it writes are the platform's (worker_process*.cpp).
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "worker.h"

namespace parlux {

bool parseWholeNumber(const char* text, long long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return *end == '\0' && errno == 0;
}

bool parseWorkerArguments(int argc, char** argv, WorkerArguments& args) {
    if (argc != 8) return false;
    std::string providerArg = argv[2];
    if (providerArg != "ms" && providerArg != "wps") return false;
    long long kind = 0;
    if (!parseWholeNumber(argv[3], kind) || argv[3][0] == '-' || argv[3][0] == '+' ||
        (kind != 1 && kind != 2))
        return false;
    if (!parseHandleArgument(argv[6], args.pipeFd) || !parseHandleArgument(argv[7], args.cancelFd))
        return false;
    args.provider = providerArg == "ms" ? Provider::Microsoft : Provider::Wps;
    args.kind = static_cast<int32_t>(kind);
    args.source = argv[4];
    args.output = argv[5];
    return true;
}

void sendProgressMessage(const ConversionProgress* progress, void* context) {
    if (progress && context) sendWorkerMessage(*static_cast<int*>(context), ProgressMessage(*progress));
}

int32_t convertForParent(const WorkerArguments& args) {
    int pipeHandle = args.pipeFd;
    ConversionRequest request;
    request.source = args.source;
    request.output = args.output;
    request.kind = args.kind;
    request.cancelFd = args.cancelFd;
    request.progressCallback = sendProgressMessage;
    request.callbackContext = &pipeHandle;
    ConversionResult result;
    std::memset(&result, 0, sizeof result);
    convertInWorker(args.provider, &request, &result);
    sendWorkerMessage(pipeHandle, ResultMessage(result));
    return result.code;
}

}  // namespace parlux
