// Whether a CRL is a complete list that can speak for one certificate.
#pragma once

#include <openssl/x509.h>

// True when `crl` can decide the status of `certificate` by itself: it has no critical
// extension this check does not implement (only issuingDistributionPoint and
// authorityKeyIdentifier may be critical) and no critical entry extension; it is not a delta
// CRL; and its issuingDistributionPoint, when present, is not indirect, covers every reason,
// covers the certificate's kind (end entity or CA; never attribute certificates only) and names
// a distribution point of the certificate (or none). Otherwise false, after logging why.
bool IsCompleteCrlFor(X509_CRL* crl, X509* certificate);
