// Authentication tags of token records: HMAC-SHA256 under a key derived from the store key, so a
// token file changed by hand (PIN tries, PIN hash, keys) is refused instead of used.
#pragma once

#include <string>

#include "core/model.h"

namespace softkey {

// The hexadecimal tag of `record` under the store key. Throws std::runtime_error on failure.
std::string RecordTag(const Bytes& storeKey, const std::string& record);

// Compares a stored tag with the expected one in constant time.
bool TagMatches(const std::string& expected, const std::string& stored);

}  // namespace softkey
