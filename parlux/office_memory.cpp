#include "office_memory.h"

#include <cerrno>
#include <cstdlib>

namespace parlux {

uint64_t OfficeMemoryLimitBytes() {
    const char* text = std::getenv(kMemoryVariable);
    long long megabytes = kDefaultMemoryMb;
    if (text && *text) {
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(text, &end, 10);
        if (errno == 0 && *end == '\0' && (value == 0 || (value >= kMinMemoryMb && value <= kMaxMemoryMb)))
            megabytes = value;
    }
    return static_cast<uint64_t>(megabytes) << 20;
}

}  // namespace parlux
