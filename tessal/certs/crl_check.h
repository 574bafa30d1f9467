// Revocation of a certificate decided from the CRL of its distribution points.
#pragma once

#include <openssl/x509.h>

#include <string>

#include "certs/der_objects.h"

// Downloads the CRL named by the certificate's distribution points: for each point given as a
// full name, its first "http://" URI; the CRL of the last such point is the answer. Null when
// there is none, that download does not parse as a DER CRL, or the time limit of the calling
// export (see cloud/call_deadline.h) passed before the last point was read.
X509CrlPtr fetchCrlFromDistributionPoints(X509* certificate);

// 0 the CRL does not list the certificate, 1 unknown, 2 revoked. `crlBase64Out` receives the
// downloaded CRL as Base64 (left unchanged when none was obtained). The CRL counts only when
// its issuer is `issuerText` (Base64 DER), the certificate's issuer, whose key verifies its
// signature, when its nextUpdate has not passed, and when it is a complete CRL for the
// certificate (IsCompleteCrlFor: no unhandled critical extension, not a delta CRL, a scope that
// covers the certificate).
int checkCrlRevocation(const std::string& certificateText, const std::string& issuerText,
                       std::string& crlBase64Out);

// The verdict of a downloaded CRL (null when none was obtained) on `certificate`, with the
// rules and the values of checkCrlRevocation.
int RevocationFromCrl(X509_CRL* crl, X509* certificate, const std::string& issuerText, std::string& crlBase64Out);
