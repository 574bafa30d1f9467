// The key-backed SM2 public-key method: signing on the current key, verification in software.
#pragma once

#include <openssl/evp.h>

#include <string>

// The method object for key type 408 (id-ecPublicKey) or 1172 (SM2); null for others.
EVP_PKEY_METHOD* KeyBackedSm2Method(int keyType);

// Z of GM/T 0003 for an SM2 public key (65-byte uncompressed point) and user identifier.
// False when the identifier has 8191 bytes or more.
bool Sm2IdentityDigest(const EVP_MD* md, const unsigned char* point, size_t pointLen, const unsigned char* id,
                       size_t idLen, unsigned char* z, unsigned int* zLen);

// Plain SM2 verification of a DER signature over the value e, with a clean provider key.
int Sm2VerifyValue(const unsigned char* point, size_t pointLen, const unsigned char* sig, size_t sigLen,
                   const unsigned char* e, size_t eLen);

constexpr char kDefaultSm2Id[] = "1234567812345678";
