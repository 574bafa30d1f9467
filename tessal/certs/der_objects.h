// Owning handles for the OpenSSL objects of the revocation checks, and their Base64 forms.
#pragma once

#include <openssl/crypto.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include <string>

#include "kit/openssl_ptr.h"

using X509Ptr = kit::OpenSslPtr<X509, X509_free>;
using X509CrlPtr = kit::OpenSslPtr<X509_CRL, X509_CRL_free>;
using OcspRequestPtr = kit::OpenSslPtr<OCSP_REQUEST, OCSP_REQUEST_free>;
using OcspResponsePtr = kit::OpenSslPtr<OCSP_RESPONSE, OCSP_RESPONSE_free>;
using OcspBasicPtr = kit::OpenSslPtr<OCSP_BASICRESP, OCSP_BASICRESP_free>;

// A DER certificate given as Base64 text; null when it does not parse.
X509Ptr CertificateFromBase64(const std::string& text);
// A DER CRL; null when the bytes are not one.
X509CrlPtr CrlFromDer(const std::string& bytes);

// The DER bytes of an object (empty when it cannot be encoded), e.g. DerOf(crl, i2d_X509_CRL).
template <typename T>
std::string DerOf(const T* object, int (*encode)(const T*, unsigned char**)) {
    unsigned char* der = nullptr;
    int length = object ? encode(object, &der) : -1;
    std::string bytes = length > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)) : "";
    OPENSSL_free(der);
    return bytes;
}

// Base64 text of DER bytes.
std::string Base64OfDer(const std::string& der);
