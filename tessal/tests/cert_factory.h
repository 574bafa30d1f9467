// Certificates made in tests with OpenSSL, with exactly the fields a test needs.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "tessal/byte_array.h"

namespace test_support {

struct CertSpec {
    std::string subjectCN = "Holder";
    std::string subjectC;
    std::string subjectO;
    std::string issuerCN = "Test CA";
    bool issuerCNAsBmp = false;
    std::string issuerC, issuerO, issuerOU, issuerL, issuerST, issuerEmail;
    std::vector<unsigned char> serial = {0x01};
    bool negativeSerial = false;
    long version = 2;  // 0 = V1, 2 = V3
    std::string notBefore = "20240305090701Z";
    std::string notAfter = "20340305090701Z";
    bool subjectKeyId = true;
    std::string authorityKeyIdHex;  // empty: no authority key identifier
    bool caExtensions = false;
};

EVP_PKEY* NewRsaKey(int bits = 2048);
EVP_PKEY* NewSm2Key();
EVP_PKEY* LoadPemKey(const std::string& path);
X509* LoadPemCert(const std::string& path);

// Signs with `issuerKey`: SHA-256 for RSA, SM3 with the default SM2 identifier for SM2.
X509* MakeCertificate(const CertSpec& spec, EVP_PKEY* subjectKey, EVP_PKEY* issuerKey);
// Rewrites both signature algorithm fields to `oid` (the signature no longer verifies).
void SetSignatureAlgorithm(X509* cert, const char* oid);

ByteArray Der(X509* cert);
std::string Pem(X509* cert);
void WriteText(const std::string& path, const std::string& text);

}  // namespace test_support
