#include "hresult.h"

#include <errno.h>

#include <cstdio>

namespace parlux {

std::string formatHresult(int32_t hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
    return text;
}

int32_t hresultFromWin32(int32_t win32Error) {
    if (win32Error <= 0) return win32Error;
    return static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(win32Error) & 0xFFFFu));
}

int32_t win32FromErrno(int errnoValue) {
    switch (errnoValue) {
        case 0: return 0;
        case ENOENT: return 2;        // ERROR_FILE_NOT_FOUND
        case ENOTDIR: return 3;       // ERROR_PATH_NOT_FOUND
        case EMFILE: return 4;        // ERROR_TOO_MANY_OPEN_FILES
        case EACCES:
        case EPERM: return 5;         // ERROR_ACCESS_DENIED
        case ENOMEM: return 8;        // ERROR_NOT_ENOUGH_MEMORY
        case EBUSY:
        case ETXTBSY: return 32;      // ERROR_SHARING_VIOLATION
        case EEXIST: return 80;       // ERROR_FILE_EXISTS
        case EINVAL: return 87;       // ERROR_INVALID_PARAMETER
        case EPIPE: return 109;       // ERROR_BROKEN_PIPE
        case ENOSPC: return 112;      // ERROR_DISK_FULL
        case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
        case ETIMEDOUT: return 1460;  // ERROR_TIMEOUT
        default: return 31;           // ERROR_GEN_FAILURE
    }
}

}  // namespace parlux
