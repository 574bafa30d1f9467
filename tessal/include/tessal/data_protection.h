// Exports that encrypt and decrypt data: with a certificate's RSA key, with the key's private
// keys, and with a 16-byte AES key the host keeps (Base64, a shorter key padded with zero bytes).
#pragma once

#include <string>

#include "tessal/export.h"

// Base64 of the RSA PKCS#1 v1.5 encryption of the raw bytes `data` to a Base64 RSA certificate.
TESSAL_API bool ZYKEncDataPubKey(const std::string& data, const std::string& certificate, std::string& cipher);
// Decrypts a Base64 ciphertext on the key (DER SM2 ciphertext for an SM2 key, else RSA); `plain`
// receives the raw bytes.
TESSAL_API bool ZYKDecDataPriKey(const std::string& cipher, std::string& plain);
// Decrypts a Base64 SM2 ciphertext laid out as x, y (32 bytes each), SM3 value, cipher bytes;
// `plain` receives the Base64 of the plaintext.
TESSAL_API bool ZYKEccDeCrypt(std::string& cipher, std::string& plain);
// Base64 of the key's RSA private-key operation on a Base64 block.
TESSAL_API bool ZYKEncryptDataByPrivKey(std::string& data, std::string& result);
// AES-128-ECB of the raw bytes `data`, zero-padded to whole blocks; `cipher` receives Base64.
TESSAL_API bool ZYKSymEncData(const std::string& data, const std::string& key, std::string& cipher);
// Decrypts a Base64 ciphertext; `plain` receives the raw bytes, zero padding included.
TESSAL_API bool ZYKSymDecData(const std::string& cipher, const std::string& key, std::string& plain);
// AES-128-ECB with PKCS#7 padding over a whole file (`encrypt` 1) or back (0). On failure the
// output path is left as it was.
TESSAL_API bool ZYKSymEncFile(const std::string& inputPath, const std::string& outputPath, const std::string& key,
                              int encrypt);
// Base64 of 16 random bytes.
TESSAL_API bool ZYKGenRandomKey(std::string& key);
// Generates an SM2 key pair in the key's "CntSM2256" container; Base64 of its 32-byte X and Y.
TESSAL_API bool ZYKGenECCKeyPair(std::string& x, std::string& y);
