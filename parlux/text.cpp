#include "text.h"

namespace parlux {

namespace {

// The code point of the UTF-8 sequence at `in[i]` and its length; 0 when it is malformed.
size_t DecodeUtf8(const std::string& in, size_t i, char32_t& cp) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    int extra;
    if (c < 0x80) {
        cp = c, extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F, extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F, extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07, extra = 3;
    } else {
        return 0;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= in.size() || (static_cast<unsigned char>(in[i + k]) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return static_cast<size_t>(extra) + 1;
}

}  // namespace

bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        char32_t cp = 0;
        size_t length = DecodeUtf8(in, i, cp);
        if (length == 0) {
            out.clear();
            return false;
        }
        i += length;
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
        char32_t cp = 0;
        size_t length = DecodeUtf8(in, i, cp);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        } else {
            out.append(in, i, length);
            i += length;
        }
    }
    return out;
}

std::string EscapeForLog(const std::string& in) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : ValidUtf8(in)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (u < 0x20 || u == 0x7F) out += std::string("\\x") + kHex[u >> 4] + kHex[u & 15];
        else out += c;
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
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return true;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace parlux
