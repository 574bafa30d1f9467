// Key material wrapped for import the way a certification authority wraps it, for tests.
#pragma once

#include <openssl/evp.h>

#include "core/model.h"

namespace softkey_test {

// The RSAPRIVATEKEYBLOB of an RSA private key of at most 2048 bits, zero-padded to whole
// SM4 blocks.
softkey::Bytes RsaPrivateKeyBlob(EVP_PKEY* key);

// An ENVELOPEDKEYBLOB (with room for its 16 cipher bytes) that carries the SM2 private key
// `encKey` for a holder whose SM2 signing public key is `signPub`.
softkey::Bytes Sm2Envelope(EVP_PKEY* signPub, EVP_PKEY* encKey);

}  // namespace softkey_test
