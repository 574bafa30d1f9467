// RSA signed data with one SHA-256 signer, written directly: the bytes that OpenSSL's PKCS#7
// signer (PKCS7_add_signature, PKCS7_dataFinal, i2d_PKCS7) makes for the same certificates,
// attributes and signature, without building and freeing its objects for every signature.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <ctime>

#include "tessal/byte_array.h"
#include "token/der_writer.h"
#include "token/signed_data_der.h"

constexpr size_t kSha256Length = 32;

// What stays the same for every signature with one signing certificate.
struct RsaSigner {
    EVP_PKEY* key = nullptr;                          // the certificate's key, signing on the token
    const der::Bytes* issuerAndSerial = nullptr;      // the certificate's IssuerAndSerialNumber
    const KnownCertificates* certificates = nullptr;  // the certificate, then its chain
};

// The certificate's IssuerAndSerialNumber; false when it cannot be encoded.
bool EncodeIssuerAndSerial(X509* certificate, der::Bytes& out);

// The signing time PKCS7_add0_attrib_signing_time writes for `instant`: UTCTime for the years
// 1950 to 2049, GeneralizedTime for the others. Empty when the instant has no such date.
der::Bytes SigningTimeDer(time_t instant);

// SHA-256 of `data`; false when the digest cannot be computed.
bool Sha256Of(const ByteArray& data, unsigned char (&digest)[kSha256Length]);

// The signed attributes for a SHA-256 message digest in DER order: content type data, the
// signing time (now) and the message digest; the elements only, without the SET's header.
bool RsaSignedAttributes(const unsigned char (&digest)[kSha256Length], der::Bytes& attributes);

// The signature value over the attributes (their SET hashed with SHA-256), made by `key`.
bool SignRsaAttributes(EVP_PKEY* key, const der::Bytes& attributes, der::Bytes& signature);

// The signedData ContentInfo. `content` is carried when not null; `timeStampToken`, when not
// empty, is the signer's one unsigned attribute. False when the signer lacks a part.
bool WriteRsaSignedData(const RsaSigner& signer, const der::Bytes& attributes, const der::Bytes& signature,
                        const ByteArray* content, const ByteArray& timeStampToken, ByteArray& out);
