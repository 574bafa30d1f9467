// Seal images on the key.
#include "token/not_available.h"
#include "token/skf_ukey.h"

CResult SkfUKey::GetStampImg(ByteArray&, int&, int&, std::string&, std::string&) {
    return NotAvailable("SkfUKey::GetStampImg");
}
