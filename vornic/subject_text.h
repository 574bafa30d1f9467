// The subject text of a request: "CN=...,C=...,O=..." and an optional "OU=...".
#pragma once

#include <string>

namespace vornic {

struct SubjectValues {
    std::string commonName;    // ANSI code page, as given
    std::string country;       // written byte for byte
    std::string organization;  // ANSI code page
    std::string unit;          // ANSI code page; only when hasUnit
    bool hasUnit = false;
};

// The longest country value accepted.
constexpr size_t kMaxCountryLength = 255;

// Splits `subject` at every "," (no trimming) and takes the values out of the parts. False
// when the parts are not CN, C, O (and OU when there are exactly four) in that order, or when
// the country value is too long. With five or more parts only CN, C and O are used.
bool ParseSubject(const std::string& subject, SubjectValues& out);

}  // namespace vornic
