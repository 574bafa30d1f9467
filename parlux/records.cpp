#include "records.h"

#include <cstring>

#include "log.h"
#include "text.h"

namespace parlux {

const char* resultName(int32_t code) {
    switch (code) {
        case kInvalidArguments: return "invalid_arguments";
        case kSuccess: return "success";
        case kPasswordProtected: return "password_protected";
        case kSourceBusy: return "source_busy";
        case kUnsupportedFormat: return "unsupported_format";
        case kSourceUnavailable: return "source_unavailable";
        case kProviderUnavailable: return "provider_unavailable";
        case kNoContent: return "no_content";
        case kOpenFailed: return "open_failed";
        case kExportFailed: return "export_failed";
        case kTimeout: return "timeout";
        case kCleanupFailed: return "cleanup_failed";
        case kOutputFailed: return "output_failed";
        case kInternalError: return "internal_error";
        default: return "unknown";
    }
}

const char* levelText(int level) {
    switch (level) {
        case kTrace: return "TRACE";
        case kDebug: return "DEBUG";
        case kInfo: return "INFO ";
        case kWarn: return "WARN ";
        case kError: return "ERROR";
        default: return "UNKWN";
    }
}

ConversionResult NewResult() {
    ConversionResult r;
    std::memset(&r, 0, sizeof r);
    r.size = sizeof r;
    r.version = 1;
    r.code = kInternalError;
    return r;
}

ConversionProgress NewProgress() {
    ConversionProgress p;
    std::memset(&p, 0, sizeof p);
    p.size = sizeof p;
    p.version = 1;
    return p;
}

static WorkerMessage EmptyMessage(uint32_t kind) {
    WorkerMessage m;
    std::memset(&m, 0, sizeof m);
    std::memcpy(m.magic, "PLXW", 4);
    m.size = sizeof m;
    m.kind = kind;
    return m;
}

WorkerMessage ProgressMessage(const ConversionProgress& progress) {
    WorkerMessage m = EmptyMessage(kProgressMessage);
    m.progress = progress;
    return m;
}

WorkerMessage ResultMessage(const ConversionResult& result) {
    WorkerMessage m = EmptyMessage(kResultMessage);
    m.result = result;
    return m;
}

bool IsWellFormed(const WorkerMessage& message) {
    return std::memcmp(message.magic, "PLXW", 4) == 0 && message.size == sizeof(WorkerMessage);
}

void SetMessage(char16_t (&field)[kMessageUnits], const std::string& utf8) {
    std::memset(field, 0, sizeof field);
    std::u16string text;
    Utf8ToUtf16(ValidUtf8(utf8), text);  // malformed bytes (a Latin-1 file name) read as U+FFFD
    size_t units = text.size() < kMessageUnits - 1 ? text.size() : kMessageUnits - 1;
    // A surrogate pair is never cut in half.
    if (units == kMessageUnits - 1 && units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
    std::memcpy(field, text.data(), units * sizeof(char16_t));
}

std::string MessageText(const char16_t (&field)[kMessageUnits]) {
    size_t units = 0;
    while (units < kMessageUnits && field[units] != 0) ++units;
    std::string out;
    if (!Utf16ToUtf8(std::u16string(field, units), out)) out.clear();
    return out;
}

}  // namespace parlux
