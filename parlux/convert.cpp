#include "convert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "class_registry.h"
#include "file_helpers.h"
#include "hresult.h"
#include "log.h"
#include "platform/interruption.h"
#include "providers.h"
#include "supervision_text.h"
#include "supervisor.h"
#include "text.h"
#include "worker.h"

namespace parlux {
namespace {

// Drops the providers whose ProgID for `kind` names no registered class.
std::vector<Provider> RegisteredProviders(const std::vector<Provider>& providers, DocumentKind kind) {
    ClassRegistry registry = ClassRegistry::Load();
    std::vector<Provider> kept;
    ClassEntry entry;
    for (Provider p : providers)
        if (registry.Resolve(progId(p, kind), entry) >= 0) kept.push_back(p);
    return kept;
}

bool AllowsFallback(int32_t code) {
    return code == kProviderUnavailable || code == kOpenFailed || code == kExportFailed || code == kTimeout ||
           code == kInternalError;
}

}  // namespace

int32_t parseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
    if (argc != 3 && argc != 4) {
        error = kUsageLine;
        return kInvalidArguments;
    }
    line.source = fullPath(argv[1]);
    line.target = fullPath(argv[2]);
    line.provider = argc == 4 ? AsciiLower(argv[3]) : std::string();
    if (!line.provider.empty() && line.provider != "ms" && line.provider != "wps") {
        error = "Provider must be 'ms' or 'wps'.";
        return kInvalidArguments;
    }
    return kSuccess;
}

int32_t convertDocument(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (parseCommandLine(argc, argv, line, error) != kSuccess) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kInvalidArguments;
    }
    const std::string &source = line.source, &target = line.target, &providerArg = line.provider;
    std::string requestId = newRequestId();
    writeLog(kInfo, "request=" + requestId + " source=" + source + " target=" + target +
                        " explicit_provider=" + (providerArg.empty() ? "auto" : providerArg));
    FormatInfo format = detectFormat(source);
    if (!format.supported) return kUnsupportedFormat;
    if (samePath(source, target)) return kOutputFailed;
    ResultCode access = checkSourceAccess(source);
    if (access != kSuccess) return access;
    if (isEncryptedPackage(source)) return kPasswordProtected;
    if (providerArg == "ms" && format.wpsOnly) return kUnsupportedFormat;
    std::vector<Provider> providers = RegisteredProviders(orderProviders(format, providerArg), format.kind);
    if (providers.empty()) return kProviderUnavailable;
    int timeout = readTimeout();

    ConversionResult result = NewResult();
    platform::InstallInterruptHandlers();  // a stopped run still cleans up its attempt
    for (size_t i = 0; i < providers.size(); ++i) {
        Provider provider = providers[i];
        std::string temp;
        int tempFd = -1;
        if (!makeTempOutputPath(target, temp, tempFd)) return kOutputFailed;
        std::string src = officePath(source), out = officePath(temp);
        if (src.empty() || out.empty()) {
            deleteTempOutput(temp, tempFd);
            return src.empty() ? kOpenFailed : kOutputFailed;
        }
        int32_t code = runWorker(provider, format.kind, src, out, timeout, requestId, result);
        if (code == kSuccess) {
            if (isOwnTempFile(temp, tempFd) && isValidPdf(tempFd) && commitOutput(temp, tempFd, target)) {
                writeLog(kInfo, "request=" + requestId + " completed provider=" + providerText(provider) +
                                    " result=success");
                return kSuccess;
            }
            int error = errno;
            deleteTempOutput(temp, tempFd);
            result.code = kOutputFailed;
            result.stage = kStageDone;
            result.hr = hresultFromWin32(win32FromErrno(error));
            std::memset(result.message, 0, sizeof result.message);
            SetMessage(result.message, "Generated PDF could not be validated or committed.");
            printFailure(result);
            return kOutputFailed;
        }
        deleteTempOutput(temp, tempFd);
        if (providerArg.empty() && i + 1 < providers.size() && AllowsFallback(code) && !platform::InterruptSignal()) {
            writeLog(kWarn, "request=" + requestId + " fallback_from=" + providerText(provider) +
                                " reason=" + resultName(code));
            continue;
        }
        printFailure(result);
        return code;
    }
    return kInternalError;  // not reached: the last provider always returns
}

int parluxMain(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--parlux-worker") == 0) return workerMain(argc, argv);
    int32_t code = convertDocument(argc, argv);
    if (code != kSuccess)
        writeLog(kWarn, std::string("conversion rejected before or between providers result=") + resultName(code));
    return code;
}

}  // namespace parlux
