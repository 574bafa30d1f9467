// Base64 and hexadecimal text, UTF-8 and the ANSI code page: each decoder over arbitrary text,
// with the round trips that must hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "api/encodings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    ByteArray decoded = Base64Decode(text);
    // What was decoded encodes back to text that decodes to the same bytes.
    if (Base64Decode(Base64Encode(decoded)) != decoded) abort();
    HexEncode(reinterpret_cast<const char*>(data), static_cast<int>(size));

    std::wstring wide = Utf8ToWide(text);
    std::string utf8 = WideToUtf8(wide);
    // Once cleaned of invalid sequences, UTF-8 survives the trip through wide characters.
    if (WideToUtf8(Utf8ToWide(utf8)) != utf8) abort();
    AnsiToUtf8(text);
    Utf8ToAnsi(text);
    WideToAnsi(wide);
    SplitString(text, ",");
    return 0;
}
