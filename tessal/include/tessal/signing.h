// Exports that sign with the current key and check signatures.
#pragma once

#include <string>

#include "tessal/export.h"

// Base64 of the key's RSA signature (PKCS#1, SHA-256 computed on the key) over the raw bytes.
TESSAL_API bool ZYKSignData(std::string& data, std::string pin, std::string& signature);
// Base64 of a detached PKCS#7 over a SHA-256 digest (RSA key) or an SM2 signed message (SM2 key).
TESSAL_API bool ZYKSignDigest(std::string& digest, std::string& signature);
// Base64 of a PKCS#7 signed data over Base64 content.
TESSAL_API bool ZYKSignP7(const std::string& data, std::string& p7, int detached);
// Base64 of an SM2 signed message over a Base64 SM3 digest.
TESSAL_API bool ZYKSignSM2Digest(std::string digest, std::string& signature);
// Base64 of the DER SM2 signature of Base64 data (SM3 with the identity digest, on the key).
TESSAL_API bool ZYKSignSeal(std::string data, std::string& signature);
TESSAL_API bool ZYKVerifySignData(const std::string& data, const std::string& p7, const std::string& unusedText);
TESSAL_API bool ZYKVerifySM2Digest(std::string digest, std::string p7, std::string& certificate,
                                   std::string& signingTime);
