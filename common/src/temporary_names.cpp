#include "temporary_names.h"

#include <cstdlib>
#include <random>

namespace kit {

const char kTemporaryMarker[] = ".tmp-";

namespace {

const char kSuffixDigits[] = "0123456789abcdef";
const size_t kOldSuffixLength = 12;
const size_t kRandomLength = 8;
const size_t kMaxNameLength = 255;
// The marker, a pid and a start time of at most 20 digits each, two dashes and the random part.
const size_t kMaxSuffixLength = sizeof kTemporaryMarker - 1 + 20 + 1 + 20 + 1 + kRandomLength;

std::string RandomPart() {
    std::random_device source;
    std::string text;
    for (size_t i = 0; i < kRandomLength; ++i) text += kSuffixDigits[source() % 16];
    return text;
}

bool AllOf(const std::string& text, size_t from, size_t to, const char* allowed) {
    return to > from && text.find_first_not_of(allowed, from) >= to;
}

// "PID-START-RANDOM": both numbers of at most 20 digits (an unsigned 64-bit value).
bool ParseWriter(const std::string& suffix, unsigned long long& pid, unsigned long long& start) {
    size_t dash1 = suffix.find('-');
    size_t dash2 = dash1 == std::string::npos ? dash1 : suffix.find('-', dash1 + 1);
    if (dash2 == std::string::npos || suffix.size() - dash2 - 1 != kRandomLength) return false;
    if (!AllOf(suffix, 0, dash1, "0123456789") || !AllOf(suffix, dash1 + 1, dash2, "0123456789") ||
        !AllOf(suffix, dash2 + 1, suffix.size(), kSuffixDigits) || dash1 > 19 ||
        dash2 - dash1 - 1 > 20)
        return false;
    pid = std::strtoull(suffix.c_str(), nullptr, 10);
    start = std::strtoull(suffix.c_str() + dash1 + 1, nullptr, 10);
    return true;
}

}  // namespace

std::string TemporaryPrefix(const std::string& finalName) {
    const size_t room = kMaxNameLength - kMaxSuffixLength;
    if (finalName.size() <= room) return finalName;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(finalName[cut]) & 0xC0) == 0x80) --cut;
    return finalName.substr(0, cut);
}

std::string TemporaryName(const std::string& finalName, unsigned long long pid,
                          unsigned long long start) {
    return TemporaryPrefix(finalName) + kTemporaryMarker + std::to_string(pid) + "-" +
           std::to_string(start) + "-" + RandomPart();
}

bool RecordedWriterOf(const std::string& name, const std::string& finalName,
                      unsigned long long& pid, unsigned long long& start) {
    const std::string prefix = TemporaryPrefix(finalName) + kTemporaryMarker;
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           ParseWriter(name.substr(prefix.size()), pid, start);
}

bool IsTemporaryNameOf(const std::string& name, const std::string& finalName) {
    const std::string oldPrefix = finalName + kTemporaryMarker;
    if (name.size() == oldPrefix.size() + kOldSuffixLength &&
        name.compare(0, oldPrefix.size(), oldPrefix) == 0 &&
        AllOf(name, oldPrefix.size(), name.size(), kSuffixDigits))
        return true;
    unsigned long long pid = 0, start = 0;
    return RecordedWriterOf(name, finalName, pid, start);
}

}  // namespace kit
