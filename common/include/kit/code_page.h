// Conversions between UTF-8 and the ANSI code page that vendor libraries and keys use.
#pragma once

#include <string>

namespace kit {

// The ANSI code page: TESSAL_ANSI_CODEPAGE, else "GBK" (on Windows "ACP", the active one).
std::string AnsiCodePage();

// Converts `text` from one iconv code page to another. Bytes that cannot be converted
// become `replacement` (one per unconvertible input sequence); never fails.
std::string ConvertCodePage(const std::string& text, const std::string& from, const std::string& to,
                            const std::string& replacement);

// Converts `text` exactly: false (and `out` untouched) when any character cannot be converted.
bool ConvertCodePageExactly(const std::string& text, const std::string& from, const std::string& to,
                            std::string& out);

}  // namespace kit
