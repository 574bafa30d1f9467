// Conversions between the interface's key blobs and the keys the store keeps.
#pragma once

#include "core/model.h"
#include "core/softcrypto.h"
#include "skf/skf.h"

namespace softkey {

// The public key as the interface's blob: ECCPUBLICKEYBLOB, or RSAPUBLICKEYBLOB (a key larger
// than 2048 bits gets a blob of the same layout with a 512-byte modulus field).
bool PublicBlobOf(const KeyPair& key, Bytes& blob);
void FillEccBlob(const uint8_t x[32], const uint8_t y[32], ECCPUBLICKEYBLOB& blob);
// The 32 significant bytes at the end of a 64-byte field.
inline const uint8_t* Low32(const BYTE field[64]) { return field + 32; }
Pkey EccBlobKey(const ECCPUBLICKEYBLOB& blob);
Pkey RsaBlobKey(const RSAPUBLICKEYBLOB& blob);

}  // namespace softkey
