// Conversions between the interface's key blobs and the keys the store keeps.
#pragma once

#include "core/model.h"
#include "core/softcrypto.h"
#include "skf/skf.h"

namespace softkey {

// The longest SM2 cipher text the key takes (DEVINFO.MaxECCBufferSize).
constexpr ULONG kMaxEccCipherLen = 1024;

// The public key as the interface's blob: ECCPUBLICKEYBLOB, or RSAPUBLICKEYBLOB (a key larger
// than 2048 bits gets a blob of the same layout with a 512-byte modulus field).
bool PublicBlobOf(const KeyPair& key, Bytes& blob);
void FillEccBlob(const uint8_t x[32], const uint8_t y[32], ECCPUBLICKEYBLOB& blob);
// The 32 significant bytes at the end of a 64-byte field.
inline const uint8_t* Low32(const BYTE field[64]) { return field + 32; }
// Null when BitLen does not name the blob's key or the key is not valid.
Pkey EccBlobKey(const ECCPUBLICKEYBLOB& blob);
Pkey RsaBlobKey(const RSAPUBLICKEYBLOB& blob);
// Private keys given in the clear: null when BitLen or the components are not a valid key.
Pkey EccPrivateBlobKey(const ECCPRIVATEKEYBLOB& blob);
Pkey RsaPrivateBlobKey(const RSAPRIVATEKEYBLOB& blob);
// False when the key does not fit the blob (more than 2048 bits).
bool FillRsaPrivateBlob(EVP_PKEY* key, RSAPRIVATEKEYBLOB& blob);

// ECCCIPHERBLOB fields and the cipher in C1 C3 C2 order. The blob's cipher bytes follow its
// header: the caller of FillCipherBlob provides room for them, CipherOfBlob reads CipherLen bytes.
void FillCipherBlob(const Sm2Cipher& cipher, ECCCIPHERBLOB* blob);
Sm2Cipher CipherOfBlob(const ECCCIPHERBLOB* blob);

}  // namespace softkey
