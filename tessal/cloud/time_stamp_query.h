// The DER TimeStampReq the time service is sent, written directly: version 1, the message
// imprint (digest OID with a NULL parameter), an eight-byte nonce, certReq TRUE. These are the
// bytes OpenSSL's own encoder gives for such a request, without building its objects.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

#include "tessal/byte_array.h"

namespace cloud {

constexpr size_t kTimeStampNonceLength = 8;

// The digest of the request: SM3 for "SM2", SHA-1 otherwise. Fetched once for the process.
const EVP_MD* TimeStampDigest(bool sm2);

// Eight random bytes whose first byte lies in 0x01..0x7F, so that the nonce is a positive
// INTEGER with eight content bytes. False when the random source fails.
bool DrawTimeStampNonce(unsigned char (&nonce)[kTimeStampNonceLength]);

// The request for a digest of `md` made elsewhere. Empty when the digest does not fit.
ByteArray TimeStampQueryDer(const EVP_MD* md, const unsigned char* digest, size_t digestLength,
                            const unsigned char (&nonce)[kTimeStampNonceLength]);

// The request for `data`: digest and nonce made here. Empty when either fails.
ByteArray TimeStampQueryFor(const ByteArray& data, bool sm2);

}  // namespace cloud
