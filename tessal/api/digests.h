// Message digests fetched from OpenSSL's providers once for the process: an operation with a
// fetched digest skips the provider look-up that the built-in objects (EVP_sha256() and the
// like) cost on every use.
#pragma once

#include <openssl/evp.h>

namespace digests {

const EVP_MD* Md5();
const EVP_MD* Sha1();
const EVP_MD* Sha256();
const EVP_MD* Sm3();

}  // namespace digests
