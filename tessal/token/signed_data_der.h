// The DER of a PKCS#7 signedData ContentInfo, put together from its fields' own encodings:
// the same bytes as i2d_PKCS7, without encoding the signer infos and certificates over and
// over for the lengths of the structures around them.
#pragma once

#include <openssl/pkcs7.h>

#include <vector>

#include "tessal/byte_array.h"

// Certificates that do not change, encoded once: used for signed data that holds exactly
// these certificates in this order.
struct KnownCertificates {
    std::vector<X509*> certificates;
    std::vector<unsigned char> der;  // their encodings one after the other
};

// Encodes `certificates` into `known`; false when one cannot be encoded.
bool EncodeCertificates(const std::vector<X509*>& certificates, KnownCertificates& known);

// False when a field cannot be encoded. Structures other than signedData, and those with
// CRLs, go through i2d_PKCS7.
bool EncodeSignedDataDer(PKCS7* p7, ByteArray& out, const KnownCertificates* known = nullptr);
