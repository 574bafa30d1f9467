#include "token/signed_data_der.h"

#include "token/der_writer.h"

#include <openssl/x509.h>

#include <vector>

namespace {

using der::AppendHeader;
using der::Bytes;
using der::kContextZero;
using der::kSequence;
using der::kSet;
using der::TlvSize;

// One object's DER through its own encoder.
template <typename T>
bool AppendEncoded(Bytes& out, T* object, int (*encode)(T*, unsigned char**)) {
    int length = encode(object, nullptr);
    if (length <= 0) return false;
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(length));
    unsigned char* p = out.data() + at;
    return encode(object, &p) == length;
}

// The elements of a SET OF in DER order.
template <typename Stack, typename T>
bool AppendSetOf(Bytes& out, Stack* stack, int count, T* (*at)(Stack*, int), int (*encode)(T*, unsigned char**)) {
    std::vector<Bytes> elements(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        if (!AppendEncoded(elements[static_cast<size_t>(i)], at(stack, i), encode)) return false;
    der::SortForSetOf(elements);
    for (const Bytes& element : elements) out.insert(out.end(), element.begin(), element.end());
    return true;
}

X509_ALGOR* AlgorithmAt(STACK_OF(X509_ALGOR)* s, int i) { return sk_X509_ALGOR_value(s, i); }
PKCS7_SIGNER_INFO* SignerAt(STACK_OF(PKCS7_SIGNER_INFO)* s, int i) { return sk_PKCS7_SIGNER_INFO_value(s, i); }
int EncodeAlgorithm(X509_ALGOR* a, unsigned char** p) { return i2d_X509_ALGOR(a, p); }
int EncodeSigner(PKCS7_SIGNER_INFO* si, unsigned char** p) { return i2d_PKCS7_SIGNER_INFO(si, p); }
int EncodeCertificate(X509* x, unsigned char** p) { return i2d_X509(x, p); }
int EncodeContentInfo(PKCS7* p7, unsigned char** p) { return i2d_PKCS7(p7, p); }
int EncodeInteger(ASN1_INTEGER* n, unsigned char** p) { return i2d_ASN1_INTEGER(n, p); }
int EncodeObject(ASN1_OBJECT* o, unsigned char** p) { return i2d_ASN1_OBJECT(o, p); }

// Whether the stack holds exactly the known certificates, in their order.
bool Holds(STACK_OF(X509)* certs, const KnownCertificates& known) {
    if (static_cast<size_t>(sk_X509_num(certs)) != known.certificates.size()) return false;
    for (size_t i = 0; i < known.certificates.size(); ++i)
        if (sk_X509_value(certs, static_cast<int>(i)) != known.certificates[i]) return false;
    return true;
}

bool EncodeWhole(PKCS7* p7, ByteArray& out) {
    unsigned char* der = nullptr;
    int length = i2d_PKCS7(p7, &der);
    if (length <= 0) return false;
    out = ByteArray(der, static_cast<unsigned long>(length));
    OPENSSL_free(der);
    return true;
}

}  // namespace

bool EncodeCertificates(const std::vector<X509*>& certificates, KnownCertificates& known) {
    known.certificates.clear();
    known.der.clear();
    for (X509* cert : certificates)
        if (!cert || !AppendEncoded(known.der, cert, EncodeCertificate)) return false;
    known.certificates = certificates;
    return true;
}

bool EncodeSignedDataDer(PKCS7* p7, ByteArray& out, const KnownCertificates* known) {
    PKCS7_SIGNED* sd = p7 && PKCS7_type_is_signed(p7) ? p7->d.sign : nullptr;
    if (!sd || sd->crl || !sd->version || !sd->md_algs || !sd->contents || !sd->signer_info) return EncodeWhole(p7, out);
    Bytes type, version, algorithms, contents, certificates, signers;
    if (!AppendEncoded(type, p7->type, EncodeObject) || !AppendEncoded(version, sd->version, EncodeInteger) ||
        !AppendSetOf(algorithms, sd->md_algs, sk_X509_ALGOR_num(sd->md_algs), AlgorithmAt, EncodeAlgorithm) ||
        !AppendEncoded(contents, sd->contents, EncodeContentInfo) ||
        !AppendSetOf(signers, sd->signer_info, sk_PKCS7_SIGNER_INFO_num(sd->signer_info), SignerAt, EncodeSigner))
        return false;
    // The certificates are a SEQUENCE OF in OpenSSL's template: kept in their order.
    if (sd->cert && known && Holds(sd->cert, *known))
        certificates = known->der;
    else
        for (int i = 0; sd->cert && i < sk_X509_num(sd->cert); ++i)
            if (!AppendEncoded(certificates, sk_X509_value(sd->cert, i), EncodeCertificate)) return false;
    size_t signedData = version.size() + TlvSize(algorithms.size()) + contents.size() +
                        (sd->cert ? TlvSize(certificates.size()) : 0) + TlvSize(signers.size());
    size_t explicitZero = TlvSize(signedData);
    size_t whole = type.size() + TlvSize(explicitZero);
    Bytes der;
    der.reserve(TlvSize(whole));
    AppendHeader(der, kSequence, whole);
    der.insert(der.end(), type.begin(), type.end());
    AppendHeader(der, kContextZero, explicitZero);
    AppendHeader(der, kSequence, signedData);
    der.insert(der.end(), version.begin(), version.end());
    AppendHeader(der, kSet, algorithms.size());
    der.insert(der.end(), algorithms.begin(), algorithms.end());
    der.insert(der.end(), contents.begin(), contents.end());
    if (sd->cert) {
        AppendHeader(der, kContextZero, certificates.size());
        der.insert(der.end(), certificates.begin(), certificates.end());
    }
    AppendHeader(der, kSet, signers.size());
    der.insert(der.end(), signers.begin(), signers.end());
    out = ByteArray(der.data(), static_cast<unsigned long>(der.size()));
    return true;
}
