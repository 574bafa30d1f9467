// Signature checks of signed DER structures (certificates, CRLs, OCSP responses) against a key.
#pragma once

#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>

// Whether `der`, a SEQUENCE of to-be-signed data, signature algorithm and signature value,
// carries a signature that `key` verifies. SM2 keys verify with the identifier
// "1234567812345678", as the library signs.
bool VerifySignedDer(const unsigned char* der, long length, EVP_PKEY* key);

bool IsSignedBy(X509* certificate, EVP_PKEY* key);
bool IsSignedBy(X509_CRL* crl, EVP_PKEY* key);
bool IsSignedBy(OCSP_BASICRESP* response, EVP_PKEY* key);
