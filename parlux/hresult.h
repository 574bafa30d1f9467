// HRESULT values and their text, with the errno values the converter reports as Win32 errors.
#pragma once

#include <cstdint>
#include <string>

namespace parlux {

constexpr int32_t kHrInvalidArgument = static_cast<int32_t>(0x80070057);
constexpr int32_t kHrCancelled = static_cast<int32_t>(0x800704C7);
constexpr int32_t kHrTimedOut = static_cast<int32_t>(0x80070102);
constexpr int32_t kHrProcessAborted = static_cast<int32_t>(0x8007042B);
constexpr int32_t kHrAccessDenied = static_cast<int32_t>(0x80070005);
constexpr int32_t kHrOutOfMemory = static_cast<int32_t>(0x8007000E);
constexpr int32_t kHrClassNotRegistered = static_cast<int32_t>(0x80040154);
constexpr int32_t kSOk = 0;
constexpr int32_t kSFalse = 1;

// "0x" and eight upper-case hexadecimal digits.
std::string formatHresult(int32_t hr);

// Values <= 0 unchanged; v > 0 becomes 0x80070000 | (v & 0xFFFF).
int32_t hresultFromWin32(int32_t win32Error);

// The Win32 error code an errno value stands for (ENOENT 2, EACCES 5, EBUSY 32, ...).
int32_t win32FromErrno(int errnoValue);

}  // namespace parlux
