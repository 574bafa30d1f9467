// Reading the gateway status service's answers.
#pragma once

#include <string>

namespace cloud {

// What CheckCertValidity makes of an answer: 1 not issued by a trusted CA, 2 normal, 3 unknown,
// 4 revoked, 0 for anything else (no root, an unreadable or refused answer).
int CertValidityFromAnswer(const std::string& response);

// What GetCertStatusMsg makes of an answer: the first result's "detailMessage", else "UNKNOWN".
std::string CertStatusMessageFromAnswer(const std::string& response);

}  // namespace cloud
