// Code-page conversions on Windows: MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "code_page_convert.h"
#include "kit/code_page.h"

namespace kit {
namespace {

// The Windows code page for a name: "ACP" (the active ANSI code page), "UTF-8", "GBK",
// "GB18030", or "CPnnn"; 0 when unknown.
UINT CodePageId(const std::string& name) {
    if (name == "ACP") return CP_ACP;
    if (name == "UTF-8" || name == "UTF8") return CP_UTF8;
    if (name == "GBK" || name == "GB2312") return 936;
    if (name == "GB18030") return 54936;
    if (name.size() > 2 && (name.compare(0, 2, "CP") == 0 || name.compare(0, 2, "cp") == 0)) {
        char* end = nullptr;
        unsigned long id = std::strtoul(name.c_str() + 2, &end, 10);
        if (*end == '\0' && id > 0 && id < 65536) return static_cast<UINT>(id);
    }
    return 0;
}

// Length of the first character of `text` in code page `cp` (at least 1 byte).
size_t CharLength(UINT cp, const char* text, size_t left) {
    for (size_t n = 1; n <= left && n <= 4; ++n) {
        wchar_t w[2];
        if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text, static_cast<int>(n), w, 2) > 0)
            return n;
    }
    return 1;
}

// Decodes `text`; an undecodable sequence becomes U+FFFF (a non-character) or, with
// `exact`, fails the whole conversion.
bool Decode(UINT cp, const std::string& text, bool exact, std::wstring& out) {
    out.clear();
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        // Decode the longest valid run at once; fall back to one character at a time.
        int n =
            MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, static_cast<int>(left), nullptr, 0);
        if (n > 0) {
            std::wstring chunk(static_cast<size_t>(n), L'\0');
            MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, static_cast<int>(left), &chunk[0], n);
            out += chunk;
            return true;
        }
        size_t len = CharLength(cp, p, left);
        wchar_t w[2];
        int k = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, static_cast<int>(len), w, 2);
        if (k <= 0) {
            if (exact) return false;
            out += L'\xFFFF';
        } else {
            out.append(w, static_cast<size_t>(k));
        }
        p += len;
        left -= len;
    }
    return true;
}

// Encodes one character (one or two UTF-16 units); false when the code page lacks it.
bool EncodeOne(UINT cp, const wchar_t* w, int units, std::string& out) {
    char buffer[16];
    BOOL usedDefault = FALSE;
    bool utf8 = cp == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(cp, flags, w, units, buffer, sizeof buffer, nullptr,
                                utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.append(buffer, static_cast<size_t>(n));
    return true;
}

}  // namespace

bool ConvertText(const std::string& text, const std::string& from, const std::string& to,
                 const std::string* replacement, std::string& result) {
    if (text.empty()) {
        result.clear();
        return true;
    }
    UINT fromCp = CodePageId(from), toCp = CodePageId(to);
    if ((fromCp == 0 && from != "ACP") || (toCp == 0 && to != "ACP")) return false;
    std::wstring wide;
    if (!Decode(fromCp, text, replacement == nullptr, wide)) return false;
    std::string out;
    for (size_t i = 0; i < wide.size();) {
        int units = (wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < wide.size()) ? 2 : 1;
        if (wide[i] == L'\xFFFF' || !EncodeOne(toCp, &wide[i], units, out)) {
            if (replacement == nullptr) return false;
            out += *replacement;
        }
        i += static_cast<size_t>(units);
    }
    result = std::move(out);
    return true;
}

std::string AnsiCodePage() {
    const char* value = std::getenv("TESSAL_ANSI_CODEPAGE");
    return (value && *value) ? std::string(value) : std::string("ACP");
}

}  // namespace kit
