// Hexadecimal text of bytes.
#pragma once

#include <cstddef>
#include <string>

namespace kit {

enum class HexDigits { Lower, Upper };

// Two digits per byte, high nibble first.
std::string HexText(const void* data, size_t size, HexDigits digits = HexDigits::Lower);
inline std::string HexText(const std::string& bytes, HexDigits digits = HexDigits::Lower) {
    return HexText(bytes.data(), bytes.size(), digits);
}

}  // namespace kit
