// The process-wide last-error text, safe against writers and readers on several threads.
#include "api/last_error.h"

#include <mutex>

#include "tessal/result.h"

__attribute__((init_priority(101))) std::string g_USBLastError = "Error";

namespace {
std::mutex& LastErrorMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

void SetLastErrorMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(LastErrorMutex());
    g_USBLastError = text;
}

std::string ZYKGetLastError() {
    std::lock_guard<std::mutex> lock(LastErrorMutex());
    return g_USBLastError;
}
