// SM2 signatures between the key's blob form and DER.
#pragma once

#include "skf/skf.h"
#include "tessal/byte_array.h"

// DER SEQUENCE { r, s } of the 32 significant bytes of each field of the blob.
ByteArray SignatureBlobToDer(const ECCSIGNATUREBLOB& blob);
// The blob for a DER signature; false when it is not one.
bool SignatureDerToBlob(const ByteArray& der, ECCSIGNATUREBLOB& blob);
