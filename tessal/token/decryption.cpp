// Decryption with the key's encryption key pair.
#include "token/not_available.h"
#include "token/skf_ukey.h"

CResult SkfUKey::DecryptRSAData(ByteArray&, ByteArray&, int) {
    return NotAvailable("SkfUKey::DecryptRSAData");
}
