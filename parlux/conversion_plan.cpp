#include "conversion_plan.h"

#include <cerrno>
#include <cstring>

#include "class_registry.h"
#include "file_helpers.h"
#include "hresult.h"
#include "log.h"
#include "supervision_text.h"
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

bool acceptProviderArg(const std::string& text, std::string& lowered) {
    lowered = AsciiLower(text);
    return lowered.empty() || lowered == "ms" || lowered == "wps";
}

int32_t planConversion(const std::string& sourceArg, const std::string& targetArg, const std::string& providerArg,
                       ConversionPlan& plan, const std::string& requestId) {
    plan.source = fullPath(sourceArg);
    plan.target = fullPath(targetArg);
    plan.providerArg = providerArg;
    plan.requestId = requestId.empty() ? newRequestId() : requestId;
    writeLog(kInfo, "request=" + plan.requestId + " source=" + plan.source + " target=" + plan.target +
                        " explicit_provider=" + (providerArg.empty() ? "auto" : providerArg));
    plan.format = detectFormat(plan.source);
    if (!plan.format.supported) return kUnsupportedFormat;
    if (samePath(plan.source, plan.target)) return kOutputFailed;
    ResultCode access = checkSourceAccess(plan.source);
    if (access != kSuccess) return access;
    if (isEncryptedPackage(plan.source)) return kPasswordProtected;
    if (providerArg == "ms" && plan.format.wpsOnly) return kUnsupportedFormat;
    plan.providers = RegisteredProviders(orderProviders(plan.format, providerArg), plan.format.kind);
    if (plan.providers.empty()) return kProviderUnavailable;
    plan.timeoutMs = readTimeout();
    return kSuccess;
}

AttemptSequence::~AttemptSequence() { deleteTempOutput(m_temp, m_tempFd); }

bool AttemptSequence::Next(Attempt& attempt, int32_t& code) {
    attempt.provider = m_plan.providers.at(m_next);
    if (!makeTempOutputPath(m_plan.target, m_temp, m_tempFd)) {
        code = kOutputFailed;
        return false;
    }
    attempt.sourcePath = officePath(m_plan.source);
    attempt.outputPath = officePath(m_temp);
    if (attempt.sourcePath.empty() || attempt.outputPath.empty()) {
        deleteTempOutput(m_temp, m_tempFd);
        code = attempt.sourcePath.empty() ? kOpenFailed : kOutputFailed;
        return false;
    }
    return true;
}

bool AttemptSequence::Finish(ConversionResult& result, bool stopping, int32_t& code) {
    Provider provider = m_plan.providers.at(m_next++);
    code = result.code;
    if (code == kSuccess) {
        if (commitValidOutput(m_temp, m_tempFd, m_plan.target)) {
            m_temp.clear();
            writeLog(kInfo, "request=" + m_plan.requestId + " completed provider=" + providerText(provider) +
                                " result=success");
            return true;
        }
        int error = errno;
        deleteTempOutput(m_temp, m_tempFd);
        code = result.code = kOutputFailed;
        result.stage = kStageDone;
        result.hr = hresultFromWin32(win32FromErrno(error));
        std::memset(result.message, 0, sizeof result.message);
        SetMessage(result.message, "Generated PDF could not be validated or committed.");
        return true;
    }
    deleteTempOutput(m_temp, m_tempFd);
    if (m_plan.providerArg.empty() && m_next < m_plan.providers.size() && AllowsFallback(code) && !stopping) {
        writeLog(kWarn, "request=" + m_plan.requestId + " fallback_from=" + providerText(provider) +
                            " reason=" + resultName(code));
        return false;
    }
    return true;
}

}  // namespace parlux
