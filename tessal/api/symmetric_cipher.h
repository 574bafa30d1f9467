// AES-128 in ECB mode with a key the host keeps: zero-padded for byte strings, PKCS#7-padded
// for whole files.
#pragma once

#include <array>
#include <string>

#include "tessal/byte_array.h"

using SymmetricKey = std::array<unsigned char, 16>;

// Decodes a Base64 key of 1 to 16 bytes, a shorter key padded with zero bytes at the end; false
// for a key that decodes to nothing or to more than 16 bytes.
bool DecodeSymmetricKey(const std::string& base64, SymmetricKey& key);

// The length of `length` bytes once zero-padded to whole blocks.
size_t ZeroPaddedLength(size_t length);

// Encryption pads the last partial block with zero bytes (nothing for an empty input);
// decryption decrypts the whole blocks into an output of the input's length, keeping padding,
// a trailing partial block left as zero bytes. False when the cipher cannot be set up.
bool AesEcbZeroPadded(const ByteArray& in, const SymmetricKey& key, bool encrypt, ByteArray& out);

// Encrypts or decrypts the file `inputPath` into `outputPath` with PKCS#7 padding. The output is
// reached as fopen reaches it and changed only when everything succeeded (kit::OutputFileWriter):
// on false (input not readable, output not writable, wrong key or damaged padding) `outputPath`
// is as it was.
bool AesEcbFile(const std::string& inputPath, const std::string& outputPath, const SymmetricKey& key,
                bool encrypt);
