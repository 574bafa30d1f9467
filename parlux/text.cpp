#include "text.h"

#include "kit/hex.h"
#include "kit/utf8.h"

namespace parlux {

bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        kit::Utf8Character c = kit::DecodeUtf8(in, i);
        if (!c.valid) {
            out.clear();
            return false;
        }
        i += c.length;
        char32_t cp = c.codePoint;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

std::string ValidUtf8(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size();) {
        kit::Utf8Character c = kit::DecodeUtf8(in, i);
        if (!c.valid) {
            kit::AppendUtf8(out, kit::kReplacementCharacter);
            ++i;  // one replacement per malformed byte
        } else {
            out.append(in, i, c.length);
            i += c.length;
        }
    }
    return out;
}

std::string EscapeForLog(const std::string& in) {
    std::string out;
    for (char c : ValidUtf8(in)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7F)
            out += "\\x" + kit::HexText(&u, 1, kit::HexDigits::Upper);
        else
            out += c;
    }
    return out;
}

bool Utf16ToUtf8(const std::u16string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) {
                out.clear();
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            out.clear();
            return false;
        }
        kit::AppendUtf8(out, cp);
    }
    return true;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace parlux
