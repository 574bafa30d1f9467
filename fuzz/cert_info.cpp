// A certificate's fields as text, from arbitrary DER bytes: every item of the map, the copy and
// the re-encoding the exports hand out.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "tessal/cert_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CertInfo info(ByteArray(data, static_cast<unsigned long>(size)));
    CertInfo copy(info);
    copy.getCN();
    copy.getIssuerCN();
    copy.getSN();
    copy.getCertAlg();
    copy.getValidStart();
    copy.getValidEnd();
    copy.getVersion();
    for (int index = 0; index <= 18; ++index) {
        try {
            copy.getCertItem(index);
        } catch (const std::out_of_range&) {
        }
    }
    if (copy.getX509()) copy.getCertBase64Data();
    return 0;
}
