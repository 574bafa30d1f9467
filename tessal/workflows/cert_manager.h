// Certificate life cycle on the current key: containers, key pairs, requests, applications, imports.
#pragma once

#include <openssl/x509.h>

#include <string>

#include "tessal/byte_array.h"
#include "tessal/result.h"

class CertManager {
public:
    // SM2 key pair in "CntSM2256" and its PKCS#10 request (DER); an empty request fails with 10.
    static CResult GenerateP10(std::string subject, ByteArray& request);
    // RSA key pair and request, then the corporate, personal or gateway application.
    static CResult RequestCert(std::string subject, std::string name, std::string docID, std::string telephone,
                               std::string email, std::string validity, std::string orderId, std::string caType,
                               std::string platformName, std::string customerId);
    static CResult PersonalRequestCert(std::string subject, std::string name, std::string docID,
                                       std::string telephone, std::string email, std::string validity,
                                       std::string orderId, std::string caType, std::string platformName,
                                       std::string customerId);
    static CResult RequestCertOnGW(const std::string& subject, std::string& name, std::string& docId,
                                   std::string& tenantType, std::string& customerId, std::string& caType,
                                   std::string& validity, std::string& orderId, std::string& contact,
                                   std::string& ukeyOrderCertId);
    // Writes Base64 certificates (and an encryption key pair when both enc texts are given).
    static CResult ImportCert(const std::string& containerName, const std::string& signCert, std::string encCert,
                              std::string encKey);

    // RSA-2048 key pair in a new container and its request (DER); empty when nothing was produced.
    static ByteArray GenerateRsaP10(const std::string& subject, int bits, std::string& currentContainer,
                                    std::string& newContainer, CResult& result);
    // SM2 key pair in "CntSM2<bits>" and its request (DER); empty when nothing was produced.
    static ByteArray GenerateSM2P10(const std::string& subject, int bits, CResult& result);
    static CResult GenerateSM2KeyPair(ByteArray& x, ByteArray& y);
    // "CN=a,O=b,..." as a new name (UTF8String values); null for an empty text.
    static X509_NAME* ParseSubject(const std::string& subject);
    // The container an RSA request creates next to the open container `openName`.
    static std::string NextRsaContainerName(const std::string& openName, int bits);
};
