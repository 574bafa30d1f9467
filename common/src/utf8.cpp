#include "kit/utf8.h"

namespace kit {

namespace {

bool IsScalarValue(char32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (!IsScalarValue(cp)) cp = kReplacementCharacter;
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

Utf8Character DecodeUtf8(const std::string& text, size_t at) {
    const Utf8Character malformed{kReplacementCharacter, 1, false};
    unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1, true};
    size_t extra;
    char32_t cp;
    char32_t min;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return malformed;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if (at + k >= text.size() || (static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80)
            return {kReplacementCharacter, k, false};
        cp = (cp << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    }
    if (cp < min || !IsScalarValue(cp)) return {kReplacementCharacter, extra + 1, false};
    return {cp, extra + 1, true};
}

}  // namespace kit
