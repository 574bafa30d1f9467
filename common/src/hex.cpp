#include "kit/hex.h"

namespace kit {

std::string HexText(const void* data, size_t size, HexDigits digits) {
    const char* alphabet = digits == HexDigits::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += alphabet[bytes[i] >> 4];
        out += alphabet[bytes[i] & 15];
    }
    return out;
}

}  // namespace kit
