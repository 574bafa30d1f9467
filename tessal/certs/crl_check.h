// Revocation of a certificate decided from the CRL of its distribution points.
#pragma once

#include <openssl/x509.h>

#include <string>

#include "certs/der_objects.h"

// Downloads the CRL named by the certificate's distribution points: for each point given as a
// full name, its first "http://" URI; the CRL of the last such point is the answer. Null when
// there is none or that download does not parse as a DER CRL.
X509CrlPtr fetchCrlFromDistributionPoints(X509* certificate);

// 0 the CRL does not list the certificate, 1 unknown, 2 revoked. `crlBase64Out` receives the
// downloaded CRL as Base64 (left unchanged when none was obtained). The CRL counts only when
// its issuer is `issuerText` (Base64 DER), the certificate's issuer, whose key verifies its
// signature, and when its nextUpdate has not passed.
int checkCrlRevocation(const std::string& certificateText, const std::string& issuerText, std::string& crlBase64Out);

// The verdict of a downloaded CRL (null when none was obtained) on `certificate`, with the
// rules and the values of checkCrlRevocation.
int RevocationFromCrl(X509_CRL* crl, X509* certificate, const std::string& issuerText, std::string& crlBase64Out);
