// UTF-8 and UTF-16 conversions of the converter.
#pragma once

#include <string>

namespace parlux {

// False for malformed input (an unpaired surrogate, a bad UTF-8 sequence); `out` is then empty.
bool Utf8ToUtf16(const std::string& in, std::u16string& out);
bool Utf16ToUtf8(const std::u16string& in, std::string& out);
// `in` with every malformed byte replaced by U+FFFD (Linux file names are bytes).
std::string ValidUtf8(const std::string& in);
// A value fit for one log line: valid UTF-8, control characters written as \n, \r, \t or \xNN.
std::string EscapeForLog(const std::string& in);

// Lowers ASCII A-Z only.
std::string AsciiLower(std::string text);

}  // namespace parlux
