// The process-wide last-error text, safe against writers and readers on several threads.
#include "api/last_error.h"

#include <mutex>

#include "api/compiler.h"
#include "tessal/result.h"

TESSAL_INIT_PRIORITY(101) std::string g_USBLastError = "Error";

namespace {

std::mutex& LastErrorMutex() {
    static std::mutex mutex;
    return mutex;
}

// The text itself, never destroyed: an export still running on another thread while the
// process exits may set or read it. g_USBLastError is a copy kept for hosts that read it.
std::string& LastErrorText() {
    static std::string* text = new std::string("Error");
    return *text;
}

bool g_copyDestroyed = false;  // under LastErrorMutex

// Built just after g_USBLastError, so destroyed just before it: from then on the copy is left alone.
struct CopyCloser {
    ~CopyCloser() {
        std::lock_guard<std::mutex> lock(LastErrorMutex());
        g_copyDestroyed = true;
    }
};
TESSAL_INIT_PRIORITY(101) CopyCloser g_copyCloser;

}  // namespace

void SetLastErrorMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(LastErrorMutex());
    LastErrorText() = text;
    if (!g_copyDestroyed) g_USBLastError = text;
}

std::string ZYKGetLastError() {
    std::lock_guard<std::mutex> lock(LastErrorMutex());
    return LastErrorText();
}
