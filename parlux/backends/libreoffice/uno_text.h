// UTF-8 and UNO strings, file URLs.
#pragma once

#include <rtl/ustring.hxx>
#include <string>

namespace parlux::libreoffice {

using rtl::OString;
using rtl::OUString;

inline std::string ToUtf8(const OUString& text) {
    OString bytes = OUStringToOString(text, RTL_TEXTENCODING_UTF8);
    return std::string(bytes.getStr(), static_cast<size_t>(bytes.getLength()));
}

inline OUString FromUtf8(const std::string& text) {
    return OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

// file:// URL of an absolute path.
OUString FileUrl(const std::string& path);

}  // namespace parlux::libreoffice
