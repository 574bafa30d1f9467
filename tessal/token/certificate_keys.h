// Whether a certificate belongs to a key pair on the key, told by its public key.
#pragma once

#include <openssl/x509.h>

#include <cstddef>

#include "kit/openssl_ptr.h"
#include "skf/skf.h"

using CertificatePtr = kit::OpenSslPtr<X509, X509_free>;

// The certificate when `der` holds exactly one DER X.509 certificate and nothing else; null
// otherwise.
CertificatePtr ParseCertificateExactly(const unsigned char* der, size_t length);

// Whether the certificate's public key is the key of a public-key blob as the driver exports it:
// RSAPUBLICKEYBLOB (a modulus field of 256 bytes or more) or ECCPUBLICKEYBLOB, `length` bytes.
bool CertificateHasKey(X509* cert, const unsigned char* blob, size_t length);
