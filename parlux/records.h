// Result codes and the fixed-size records the worker sends to the parent over its pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlux {

enum ResultCode : int32_t {
    kInvalidArguments = -1,
    kSuccess = 1,
    kPasswordProtected = 2,
    kSourceBusy = 3,
    kUnsupportedFormat = 4,
    kSourceUnavailable = 5,
    kProviderUnavailable = 6,
    kNoContent = 7,
    kOpenFailed = 8,
    kExportFailed = 9,
    kTimeout = 10,
    kCleanupFailed = 11,
    kOutputFailed = 12,
    kInternalError = 13,
};

// "success", "password_protected", ...; "unknown" for values without a code.
const char* resultName(int32_t code);

constexpr size_t kMessageUnits = 256;

#pragma pack(push, 1)
struct ConversionResult {
    uint32_t size;
    uint32_t version;
    int32_t code;
    uint32_t stage;
    int32_t hr;
    uint32_t pid;
    uint32_t owned;
    char16_t message[kMessageUnits];
};

struct ConversionProgress {
    uint32_t size;
    uint32_t version;
    uint32_t stage;
    int32_t hr;
    uint32_t pid;
    uint32_t owned;
    char16_t message[kMessageUnits];
};

struct WorkerMessage {
    char magic[4];
    uint32_t size;
    uint32_t kind;
    ConversionProgress progress;
    ConversionResult result;
};
#pragma pack(pop)

static_assert(sizeof(ConversionResult) == 540, "ConversionResult layout");
static_assert(sizeof(ConversionProgress) == 536, "ConversionProgress layout");
static_assert(sizeof(WorkerMessage) == 1088, "WorkerMessage layout");
static_assert(offsetof(WorkerMessage, progress) == 12 && offsetof(WorkerMessage, result) == 548,
              "WorkerMessage layout");

enum MessageKind : uint32_t { kProgressMessage = 1, kResultMessage = 2 };

// size 540, version 1, code internal_error, everything else zero.
ConversionResult NewResult();
ConversionProgress NewProgress();
WorkerMessage ProgressMessage(const ConversionProgress& progress);
WorkerMessage ResultMessage(const ConversionResult& result);
// Whether a received message has the right magic and size (its kind is the caller's to check).
bool IsWellFormed(const WorkerMessage& message);

// Stores UTF-8 text as NUL-terminated UTF-16, cut to 255 units.
void SetMessage(char16_t (&field)[kMessageUnits], const std::string& utf8);
std::string MessageText(const char16_t (&field)[kMessageUnits]);

}  // namespace parlux
