// UTF-8 and UTF-16 conversions of the converter.
#pragma once

#include <string>

namespace parlux {

// False for malformed input (an unpaired surrogate, a bad UTF-8 sequence); `out` is then empty.
bool Utf8ToUtf16(const std::string& in, std::u16string& out);
bool Utf16ToUtf8(const std::u16string& in, std::string& out);

// Lowers ASCII A-Z only.
std::string AsciiLower(std::string text);

}  // namespace parlux
