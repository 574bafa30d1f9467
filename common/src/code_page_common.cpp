#include "code_page_convert.h"
#include "kit/code_page.h"

namespace kit {

std::string ConvertCodePage(const std::string& text, const std::string& from, const std::string& to,
                            const std::string& replacement) {
    std::string out;
    return ConvertText(text, from, to, &replacement, out) ? out : std::string();
}

bool ConvertCodePageExactly(const std::string& text, const std::string& from, const std::string& to,
                            std::string& out) {
    return ConvertText(text, from, to, nullptr, out);
}

}  // namespace kit
