#include "subject_text.h"

#include <vector>

namespace vornic {
namespace {

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The text between the first "=" and the next "=" (or the end).
std::string BetweenEquals(const std::string& part) {
    size_t first = part.find('=');
    size_t next = part.find('=', first + 1);
    return part.substr(first + 1, next == std::string::npos ? std::string::npos : next - first - 1);
}

}  // namespace

bool ParseSubject(const std::string& subject, SubjectValues& out) {
    std::vector<std::string> parts = SplitAtCommas(subject);
    if (parts.size() < 3 || !StartsWith(parts[0], "CN=") || !StartsWith(parts[1], "C=") ||
        !StartsWith(parts[2], "O="))
        return false;
    if (parts.size() == 4 && !StartsWith(parts[3], "OU=")) return false;
    out = SubjectValues();
    out.commonName = BetweenEquals(parts[0]);
    out.country = parts[1].substr(2);
    out.organization = BetweenEquals(parts[2]);
    if (out.country.size() > kMaxCountryLength) return false;
    if (parts.size() == 4) {
        out.unit = parts[3].substr(3);
        out.hasUnit = true;
    }
    return true;
}

}  // namespace vornic
