// The UTF-8 codec: one code point at a time.
#pragma once

#include <cstddef>
#include <string>

namespace kit {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends `cp` in UTF-8; a surrogate or a value past U+10FFFF is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

struct Utf8Character {
    char32_t codePoint;  // U+FFFD when malformed
    size_t length;       // bytes taken: when malformed, the lead and the continuation bytes read
    bool valid;
};

// Decodes the character starting at `text[at]` (at < text.size()). A malformed sequence (bad
// lead, missing continuation, overlong form, surrogate, past U+10FFFF) is not valid.
Utf8Character DecodeUtf8(const std::string& text, size_t at);

}  // namespace kit
