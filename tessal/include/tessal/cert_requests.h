// Exports that apply for certificates and write issued certificates into the key.
#pragma once

#include <string>

#include "tessal/export.h"

// SM2 key pair and request ("CN=name,C=CN,O=org"); `p10` receives its Base64.
TESSAL_API bool ZYKRequestP10(std::string name, std::string org, std::string& deviceId, std::string& p10);
// RSA-2048 key pair and request in a new container; the host applies with `p10` itself.
TESSAL_API bool ZYKRequestP10FromWEB(std::string name, std::string id, std::string& deviceId, std::string& p10,
                                     std::string& currentContainer, std::string& newContainer);
// RSA key pair, request and application at the issuance service (corporate or personal).
// `validity` is "12" or "24" months; anything else applies for 24.
TESSAL_API bool ZYKRequestCert(std::string name, std::string docID, std::string telephone, std::string email,
                               std::string validity, std::string orderId, std::string caType,
                               std::string platformName, std::string customerId);
TESSAL_API bool ZYKPersonalRequestCert(std::string name, std::string docID, std::string telephone,
                                       std::string email, std::string validity, std::string orderId,
                                       std::string caType, std::string platformName, std::string customerId);
TESSAL_API bool ZYKRequestCertOnGW(std::string& name, std::string& docId, std::string& tenantType,
                                   std::string& customerId, std::string& caType, std::string& validity,
                                   std::string& orderId, std::string& contact, std::string& ukeyOrderCertId);
// SM2 key pair and request, sent for a signing and encryption certificate pair.
TESSAL_API bool ZYKRequestDoubleCert(std::string name, std::string unit, std::string id, std::string orderId);
// Downloads the issued signing certificate and writes it into the key's first container.
TESSAL_API bool ZYKImportCertFromJava(std::string orderId, std::string sealId);
TESSAL_API bool ZYKImportCertFromWEB(std::string certificate, std::string containerName);
TESSAL_API bool ZYKImportCertOnGW(std::string orderId, std::string& contact, std::string& ukeyOrderCertId);
// Downloads the SM2 pair and the enveloped encryption key into the container in use.
TESSAL_API bool ZYKImportDoubleCert();
TESSAL_API bool ZYKImportDoubleCertFromWEB(std::string signCert, std::string encCert, std::string encKey,
                                           std::string containerName);
// On success `encCert` holds the Base64 of what was imported (line breaks removed).
TESSAL_API bool ZYKImportSM2DoubleCert(std::string& signCert, std::string& encCert, std::string& encKey);
// Deletes a container (own-middleware keys only) and opens the attached keys again.
TESSAL_API bool ZYKClearUkeyCnt(std::string& containerName);
