// DER SM2 signatures into the key's signature blob and back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "token/signature_der.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ECCSIGNATUREBLOB blob{};
    if (!SignatureDerToBlob(ByteArray(data, static_cast<unsigned long>(size)), blob)) return 0;
    // An accepted signature encodes back into one that is accepted with the same values.
    ECCSIGNATUREBLOB again{};
    if (!SignatureDerToBlob(SignatureBlobToDer(blob), again)) abort();
    if (memcmp(&blob, &again, sizeof blob) != 0) abort();
    return 0;
}
