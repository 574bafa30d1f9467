// A cloud service's answer, the same bytes read by each JSON answer reader the library has: the
// issuance service's, the status service's (validity and message) and the mobile seal
// service's (signature result and digest upload).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cloud/cert_status_answer.h"
#include "cloud/issuance_messages.h"
#include "cloud/mobile_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);

    cloud::IssuanceAnswer issuance(answer);
    for (const char* name : {"result", "message", "digest", "key", "keys", "pubCert", "encCert", "encKey"})
        issuance.Get(name);
    issuance.Accepted();

    int validity = cloud::CertValidityFromAnswer(answer);
    if (validity < 0 || validity > 4) abort();
    cloud::CertStatusMessageFromAnswer(answer);

    std::string p7SignResult, uploaded;
    cloud::SignatureArrived(answer, p7SignResult);
    cloud::UploadedDigestResult(answer, uploaded);
    return 0;
}
