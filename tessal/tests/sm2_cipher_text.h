// SM2 ciphertexts made by OpenSSL, in its DER form and in the raw C1 C3 C2 layout keys take.
#pragma once

#include <openssl/evp.h>

#include <string>

#include "tessal/byte_array.h"

namespace test_support {

// OpenSSL's SM2 encryption of `plain` to `key`: the DER SM2 ciphertext; empty on failure.
ByteArray Sm2EncryptDer(EVP_PKEY* key, const std::string& plain);
// Encrypts until the DER x integer has `xBytes` content bytes (31: leading zero dropped, 33:
// sign byte added); empty when no such ciphertext came within many attempts.
ByteArray Sm2EncryptDerWithX(EVP_PKEY* key, const std::string& plain, int xBytes);
// The DER ciphertext as x, y (32 bytes each, big-endian), the SM3 value and the cipher bytes.
ByteArray Sm2DerToRaw(const ByteArray& der);

}  // namespace test_support
