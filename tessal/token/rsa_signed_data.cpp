#include "token/rsa_signed_data.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>

#include <ctime>
#include <vector>

#include "api/digests.h"

using der::Append;
using der::AppendHeader;
using der::AppendTlv;
using der::Bytes;
using der::TlvSize;

namespace {

void AppendObject(Bytes& out, int nid) {
    const ASN1_OBJECT* object = OBJ_nid2obj(nid);
    AppendTlv(out, der::kObject, OBJ_get0_data(object), static_cast<size_t>(OBJ_length(object)));
}

// An AlgorithmIdentifier with a NULL parameter, as PKCS7_SIGNER_INFO_set and PKCS7_add_signer
// write them.
void AppendAlgorithm(Bytes& out, int nid) {
    Bytes inner;
    AppendObject(inner, nid);
    inner.push_back(der::kNull);
    inner.push_back(0);
    AppendTlv(out, der::kSequence, inner.data(), inner.size());
}

// An Attribute with one value, given whole.
Bytes Attribute(int nid, const unsigned char* value, size_t length) {
    Bytes inner, out;
    AppendObject(inner, nid);
    AppendTlv(inner, der::kSet, value, length);
    AppendTlv(out, der::kSequence, inner.data(), inner.size());
    return out;
}

const unsigned char kVersionOne[] = {der::kInteger, 1, 1};

}  // namespace

bool EncodeIssuerAndSerial(X509* certificate, Bytes& out) {
    unsigned char* name = nullptr;
    unsigned char* serial = nullptr;
    int nameLength = certificate ? i2d_X509_NAME(X509_get_issuer_name(certificate), &name) : 0;
    int serialLength = certificate ? i2d_ASN1_INTEGER(X509_get0_serialNumber(certificate), &serial) : 0;
    bool encoded = nameLength > 0 && serialLength > 0;
    out.clear();
    if (encoded) {
        AppendHeader(out, der::kSequence, static_cast<size_t>(nameLength + serialLength));
        out.insert(out.end(), name, name + nameLength);
        out.insert(out.end(), serial, serial + serialLength);
    }
    OPENSSL_free(name);
    OPENSSL_free(serial);
    return encoded;
}

bool Sha256Of(const ByteArray& data, unsigned char (&digest)[kSha256Length]) {
    static const unsigned char kNothing[1] = {0};
    unsigned int length = 0;
    return EVP_Digest(data.data() ? data.data() : kNothing, static_cast<size_t>(data.length()), digest, &length,
                      digests::Sha256(), nullptr) == 1 &&
           length == kSha256Length;
}

Bytes SigningTimeDer(time_t instant) {
    struct tm utc {};
    if (!OPENSSL_gmtime(&instant, &utc)) return Bytes();
    const int year = utc.tm_year + 1900;
    const bool utcTime = year >= 1950 && year < 2050;
    if (year < 0 || year > 9999) return Bytes();
    char text[16];
    size_t n = 0;
    auto put = [&text, &n](int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) text[n + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        n += static_cast<size_t>(digits);
    };
    if (utcTime)
        put(year % 100, 2);
    else
        put(year, 4);
    for (int field : {utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec}) put(field, 2);
    text[n++] = 'Z';
    Bytes out;
    AppendTlv(out, utcTime ? V_ASN1_UTCTIME : V_ASN1_GENERALIZEDTIME, reinterpret_cast<const unsigned char*>(text), n);
    return out;
}

bool RsaSignedAttributes(const unsigned char (&digest)[kSha256Length], Bytes& attributes) {
    const Bytes time = SigningTimeDer(std::time(nullptr));
    if (time.empty()) return false;
    Bytes type, digestValue;
    AppendObject(type, NID_pkcs7_data);
    AppendTlv(digestValue, der::kOctetString, digest, kSha256Length);
    std::vector<Bytes> elements = {Attribute(NID_pkcs9_contentType, type.data(), type.size()),
                                   Attribute(NID_pkcs9_signingTime, time.data(), time.size()),
                                   Attribute(NID_pkcs9_messageDigest, digestValue.data(), digestValue.size())};
    der::SortForSetOf(elements);
    attributes.clear();
    for (const Bytes& element : elements) Append(attributes, element);
    return true;
}

bool SignRsaAttributes(EVP_PKEY* key, const Bytes& attributes, Bytes& signature) {
    Bytes set;
    set.reserve(TlvSize(attributes.size()));
    AppendTlv(set, der::kSet, attributes.data(), attributes.size());
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashLength = 0;
    if (!key || EVP_Digest(set.data(), set.size(), hash, &hashLength, digests::Sha256(), nullptr) != 1) return false;
    // What EVP_DigestSignFinal does for PKCS7_SIGNER_INFO_sign: PKCS#1 v1.5 over the digest.
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    size_t length = 0;
    bool made = context && EVP_PKEY_sign_init(context) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) == 1 &&
                EVP_PKEY_sign(context, nullptr, &length, hash, hashLength) == 1 && length > 0;
    if (made) {
        signature.resize(length);
        made = EVP_PKEY_sign(context, signature.data(), &length, hash, hashLength) == 1;
        signature.resize(made ? length : 0);
    }
    EVP_PKEY_CTX_free(context);
    return made;
}

bool WriteRsaSignedData(const RsaSigner& signer, const Bytes& attributes, const Bytes& signature,
                        const ByteArray* content, const ByteArray& timeStampToken, ByteArray& out) {
    if (!signer.issuerAndSerial || !signer.certificates || signer.certificates->der.empty() || signature.empty())
        return false;
    Bytes digestAlgorithm, signerInfo, contentInfo;
    AppendAlgorithm(digestAlgorithm, NID_sha256);

    Bytes fields(kVersionOne, kVersionOne + sizeof kVersionOne);
    Append(fields, *signer.issuerAndSerial);
    Append(fields, digestAlgorithm);
    AppendTlv(fields, der::kContextZero, attributes.data(), attributes.size());
    AppendAlgorithm(fields, NID_rsaEncryption);
    AppendTlv(fields, der::kOctetString, signature.data(), signature.size());
    if (timeStampToken.length() > 0) {
        Bytes stamp = Attribute(NID_id_smime_aa_timeStampToken, timeStampToken.data(),
                                static_cast<size_t>(timeStampToken.length()));
        AppendTlv(fields, der::kContextOne, stamp.data(), stamp.size());
    }
    AppendTlv(signerInfo, der::kSequence, fields.data(), fields.size());

    Bytes inner;
    AppendObject(inner, NID_pkcs7_data);
    if (content) {
        Bytes octets;
        AppendTlv(octets, der::kOctetString, content->data(), static_cast<size_t>(content->length()));
        AppendTlv(inner, der::kContextZero, octets.data(), octets.size());
    }
    AppendTlv(contentInfo, der::kSequence, inner.data(), inner.size());

    const Bytes& certificates = signer.certificates->der;
    size_t signedData = sizeof kVersionOne + TlvSize(digestAlgorithm.size()) + contentInfo.size() +
                        TlvSize(certificates.size()) + TlvSize(signerInfo.size());
    Bytes type;
    AppendObject(type, NID_pkcs7_signed);
    size_t whole = type.size() + TlvSize(TlvSize(signedData));
    Bytes encoded;
    encoded.reserve(TlvSize(whole));
    AppendHeader(encoded, der::kSequence, whole);
    Append(encoded, type);
    AppendHeader(encoded, der::kContextZero, TlvSize(signedData));
    AppendHeader(encoded, der::kSequence, signedData);
    encoded.insert(encoded.end(), kVersionOne, kVersionOne + sizeof kVersionOne);
    AppendTlv(encoded, der::kSet, digestAlgorithm.data(), digestAlgorithm.size());
    Append(encoded, contentInfo);
    AppendTlv(encoded, der::kContextZero, certificates.data(), certificates.size());
    AppendTlv(encoded, der::kSet, signerInfo.data(), signerInfo.size());
    out.Copy(encoded.data(), static_cast<int>(encoded.size()));
    return true;
}
