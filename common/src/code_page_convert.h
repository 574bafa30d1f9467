// The conversion loop behind kit/code_page.h, one per platform (iconv, or the Windows code-page
// calls); `replacement` null means stop at the first unconvertible sequence.
#pragma once

#include <string>

namespace kit {

bool ConvertText(const std::string& text, const std::string& from, const std::string& to,
                 const std::string* replacement, std::string& result);

}  // namespace kit
