// Sizes of what hosts pass in: byte values live in ByteArray, whose length is an int, and reach the
// driver as ULONG lengths. What does not fit is refused with a message, never cut.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

// True when `size` bytes fit a ByteArray; otherwise writes "输入数据长度错误" and returns false.
bool InputFits(size_t size);
// The same for the bytes that the Base64 text `text` decodes to.
bool Base64InputFits(const std::string& text);

// Turns what reached an export's handler into a failure with its message: a value too large for
// a ByteArray (std::length_error) gives "输入数据长度错误", exhausted memory "内存错误", anything
// else "异常错误". Every export ends in
//     catch (const std::exception& e) { return ExportFailure(e, false); }
// so that nothing thrown reaches the host.
void ReportExportException(const std::exception& e, const char* function);

template <class T>
T ExportFailure(const std::exception& e, T failure, const char* function = __builtin_FUNCTION()) {
    ReportExportException(e, function);
    return failure;
}
