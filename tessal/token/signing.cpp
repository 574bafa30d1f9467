// Signing with the key's private keys.
#include "token/not_available.h"
#include "token/skf_ukey.h"

CResult SkfUKey::EncryptDataByPrivKey(ByteArray&, ByteArray&) {
    return NotAvailable("SkfUKey::EncryptDataByPrivKey");
}
CResult SkfUKey::SignDigest(ByteArray, ByteArray&) { return NotAvailable("SkfUKey::SignDigest"); }
CResult SkfUKey::SignP7(ByteArray, ByteArray&, int) { return NotAvailable("SkfUKey::SignP7"); }
CResult SkfUKey::Sign(ByteArray&, ByteArray&) { return NotAvailable("SkfUKey::Sign"); }
CResult SkfUKey::SM2SignWithFormat(ByteArray&, ByteArray&) {
    return NotAvailable("SkfUKey::SM2SignWithFormat");
}
CResult SkfUKey::SM2SignDigest(ByteArray&, ByteArray&) { return NotAvailable("SkfUKey::SM2SignDigest"); }
CResult SkfUKey::SM2VerifyDigest(ByteArray&, ByteArray&) {
    return NotAvailable("SkfUKey::SM2VerifyDigest");
}
CResult SkfUKey::SignSM2P7(ByteArray&, ByteArray&) { return NotAvailable("SkfUKey::SignSM2P7"); }
CResult SkfUKey::VerifySM2P7(ByteArray&, ByteArray&) { return NotAvailable("SkfUKey::VerifySM2P7"); }
