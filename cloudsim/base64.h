// Base64 text of bytes, and back.
#pragma once

#include <string>

std::string Base64Encode(const std::string& data);
// False when `text` is not Base64 (blanks and line breaks are not allowed).
bool Base64Decode(const std::string& text, std::string& out);
