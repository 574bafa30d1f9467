// Key material wrapped for import the way a certification authority wraps it: used by tests
// and by the cloud simulator's issuing CA.
#pragma once

#include <openssl/evp.h>

#include "core/model.h"

namespace softkey {

// The RSAPRIVATEKEYBLOB of an RSA private key of at most 2048 bits, zero-padded to whole
// SM4 blocks.
Bytes RsaPrivateKeyBlob(EVP_PKEY* key);

// An ENVELOPEDKEYBLOB (with room for its 16 cipher bytes) that carries the SM2 private key
// `encKey` for a holder whose SM2 signing public key is `signPub`.
Bytes Sm2Envelope(EVP_PKEY* signPub, EVP_PKEY* encKey);

// The RSA envelope of a double import: a random SM4 key encrypted (PKCS#1 v1.5) to the holder's
// RSA signing public key `signPub`, followed by RsaPrivateKeyBlob(encKey) encrypted under it.
// Empty when `signPub` cannot encrypt.
Bytes RsaEnvelope(EVP_PKEY* signPub, EVP_PKEY* encKey);

}  // namespace softkey
