#include "token/seal_size.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "api/encodings.h"

namespace {

// The decimal number at the start of `text`: leading white space and a sign allowed, reading
// stops at the first other character. False without a digit or outside the 32-bit range.
bool LeadingNumber(const std::string& text, int& value) {
    const char* p = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    errno = 0;
    long long v = std::strtoll(p, nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

bool SizeFromNameParts(const std::string& name, int& width, int& height) {
    std::vector<std::string> parts = SplitString(name, "_");
    if (parts.size() != 2 && parts.size() != 3) return false;
    size_t first = parts.size() - 2;
    int w = 0, h = 0;
    if (!LeadingNumber(parts[first], w) || !LeadingNumber(parts[first + 1], h)) return false;
    width = w;
    height = h;
    return true;
}

bool SealSizeFromName(const std::string& name, int& width, int& height) {
    if (name == "VUVISignStamp1") {
        width = height = 40;
        return true;
    }
    if (name == "VUVISignStamp2") {
        width = height = 20;
        return true;
    }
    if (SizeFromNameParts(name, width, height)) return true;
    if (name == "ESEAL") {
        width = height = 45;
        return true;
    }
    return false;
}
