// The one place that builds public-key objects whose private operations run on the key.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "skf/skf.h"

// Registers the engine "VUV" when it is missing (a verification may have removed it).
void EnsureRsaEngineRegistered();
// An RSA key (legacy object carrying the "VUV" method) for the certificate's public key.
EVP_PKEY* KeyBackedRsaFromCertificate(X509* cert);
// The same from the key's public-key blob.
EVP_PKEY* KeyBackedRsaFromBlob(const RSAPUBLICKEYBLOB& blob);
// An SM2 key (legacy EC key on the SM2 curve) bound to the engine "VUV".
EVP_PKEY* KeyBackedSm2FromCertificate(X509* cert);
