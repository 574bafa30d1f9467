// A detached CMS (PKCS#7) signature over a SHA-256 digest computed by the client, as the
// phone of the mobile seal service makes it.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

// DER of the signed data: signed attributes carry `digest` as the message digest, so the result
// verifies against the content the digest was taken from. Empty on failure.
std::string SignDigest(const std::string& digest, X509* signer, EVP_PKEY* key);
