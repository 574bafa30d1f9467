// Exports that read and describe certificates.
#pragma once

#include <string>

#include "tessal/export.h"

// Base64 (DER) of the current key's signing certificate; no PIN needed.
TESSAL_API bool ZYKGetCertData(std::string& certificate);
// Base64 (DER) of the encryption certificate of the key's container in use.
TESSAL_API bool ZYKGetEncCertData(std::string& certificate);
TESSAL_API bool ZYKGetCertInfo(std::string& deviceId, std::string& subjectCN, std::string& subjectC,
                               std::string& subjectO, std::string& serialNumber, std::string& validStart,
                               std::string& validEnd, std::string& algorithm, std::string& issuerCN,
                               std::string& issuerC, std::string& issuerL, std::string& issuerST,
                               std::string& issuerO, std::string& issuerOU, std::string& issuerEmail,
                               std::string unused1, std::string unused2);
// One item of a Base64 certificate (1 to 14, 17); other items throw std::out_of_range.
TESSAL_API std::string ZYKGetCertDetail(const std::string& certificate, int item);
// Revocation status of a Base64 certificate: 0 good, 1 not determined, 2 revoked. Asks the
// certificate's OCSP responder first and reads its CRL only when OCSP leaves it undetermined;
// `ocspResponse` and `crl` receive the Base64 answers obtained. Needs no key.
TESSAL_API int ZYKCertValidity(const std::string& certificate, const std::string& issuerCertificate,
                               std::string& ocspResponse, std::string& crl);
// The cloud status service's verdict on a Base64 certificate: 0 to 4 as the service answers
// (0 no verdict), 5 for certificates of the maker's own CA (the service is not asked).
TESSAL_API int ZYKCheckValidityOnCloud(const std::string& certificate);
// The status text of a Base64 certificate: "【防篡改证书】" and "【测试证书】" for the
// tamper-evidence CA's and test certificates, otherwise the cloud's detail text.
TESSAL_API std::string ZYKGetCertStatusMagOnCloud(const std::string& certificate);
