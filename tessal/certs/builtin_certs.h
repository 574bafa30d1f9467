// The certificates built into the library (Base64 of DER), generated from tessal/certs/builtin/.
#pragma once

#include <cstddef>

constexpr size_t kBuiltinCaCertificateCount = 2;
// The public CA pair, subordinate first: "SHECA G2", then "UCA Root G2".
extern const char* const kBuiltinCaCertificates[kBuiltinCaCertificateCount];
extern const char kRsaTamperCertBase64[];
extern const char kSm2TamperCertBase64[];
