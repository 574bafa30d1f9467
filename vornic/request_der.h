// DER encodings of an SM2 certification request, through OpenSSL's encoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "subject_text.h"

namespace vornic {

using Bytes = std::vector<unsigned char>;

// CertificationRequestInfo: version 0, the subject (CN, C, O and OU as UTF8String values, the
// country as a PrintableString), the SM2 public key (x, y: 32 bytes each) and no attributes.
// The UTF8String values are converted from the ANSI code page. Null on failure; the buffer is
// allocated with OPENSSL_malloc and released with ReleaseRequestInfo.
unsigned char* EncodeRequestInfo(const SubjectValues& subject, const unsigned char* x,
                                 const unsigned char* y, int32_t& length);
void ReleaseRequestInfo(unsigned char* info);

// The rest of the request after the to-be-signed bytes: the SM2-with-SM3 algorithm identifier
// and the BIT STRING of SEQUENCE { INTEGER r, INTEGER s } (minimal INTEGERs). Empty on failure.
Bytes EncodeSignaturePart(const unsigned char* r, const unsigned char* s);

// The size of SEQUENCE { info, rest } and, when `out` is not null, its encoding into `out`.
size_t EncodedRequestSize(size_t infoLength, size_t restLength);
void WriteRequest(const unsigned char* info, size_t infoLength, const Bytes& rest,
                  unsigned char* out);

}  // namespace vornic
