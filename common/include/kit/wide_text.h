// UTF-8 text to and from the UTF-16 strings of the Windows calls.
#pragma once

#if defined(_WIN32)
#include <string>

namespace kit {

std::wstring WidenUtf8(const std::string& text);
std::string NarrowToUtf8(const std::wstring& text);

}  // namespace kit
#endif
