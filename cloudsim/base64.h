// Base64 and hexadecimal text of bytes.
#pragma once

#include <string>

std::string Base64Encode(const std::string& data);
// False when `text` is not Base64 (blanks and line breaks are not allowed).
bool Base64Decode(const std::string& text, std::string& out);
// Two lower-case hexadecimal digits per byte.
std::string LowerHex(const std::string& data);
