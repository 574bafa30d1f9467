#include "certs/der_objects.h"

#include "api/encodings.h"

X509Ptr CertificateFromBase64(const std::string& text) {
    ByteArray der = Base64Decode(text);
    const unsigned char* p = der.data();
    return X509Ptr(der.length() > 0 ? d2i_X509(nullptr, &p, der.length()) : nullptr);
}

X509CrlPtr CrlFromDer(const std::string& bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return X509CrlPtr(bytes.empty() ? nullptr : d2i_X509_CRL(nullptr, &p, static_cast<long>(bytes.size())));
}

std::string Base64OfDer(const std::string& der) {
    return Base64Encode(ByteArray(der.data(), static_cast<int>(der.size())));
}
