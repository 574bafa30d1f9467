// Failure reporting shared by every operation: code, location and last-error text.
#pragma once

#include <string>

#include "tessal/result.h"

// Sets `code` on `result`, records where it was raised and publishes its message.
void ReportFailure(CResult& result, int code, const char* file, const char* function, int line);

// Stores `message` as a custom (999) result, records where and publishes it.
void ReportMessage(CResult& result, const std::string& message, const char* file,
                   const char* function, int line);

// `function` is the qualified name shown to people, for example "SkfUKey::VerifyPin".
#define TESSAL_FAIL(result, code, function) \
    ReportFailure((result), (code), __FILE__, (function), __LINE__)
#define TESSAL_FAIL_MSG(result, message, function) \
    ReportMessage((result), (message), __FILE__, (function), __LINE__)
