#include "request_der.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "kit/code_page.h"
#include "kit/openssl_ptr.h"

namespace vornic {
namespace {

using NamePtr = kit::OpenSslPtr<X509_NAME, X509_NAME_free>;
using ReqPtr = kit::OpenSslPtr<X509_REQ, X509_REQ_free>;
using SigPtr = kit::OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;
using AlgPtr = kit::OpenSslPtr<X509_ALGOR, X509_ALGOR_free>;
using BitsPtr = kit::OpenSslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;

// ANSI code page text as UTF-8; false when the code page is unknown.
bool AnsiToUtf8(const std::string& text, std::string& out) {
    out = kit::ConvertCodePage(text, kit::AnsiCodePage(), "UTF-8", "\xEF\xBF\xBD");
    return text.empty() || !out.empty();
}

bool AddEntry(X509_NAME* name, int nid, int type, const std::string& value) {
    return X509_NAME_add_entry_by_NID(name, nid, type,
                                      reinterpret_cast<const unsigned char*>(value.data()),
                                      static_cast<int>(value.size()), -1, 0) == 1;
}

bool AddUtf8Entry(X509_NAME* name, int nid, const std::string& ansiValue) {
    std::string utf8;
    return AnsiToUtf8(ansiValue, utf8) && AddEntry(name, nid, V_ASN1_UTF8STRING, utf8);
}

NamePtr BuildName(const SubjectValues& subject) {
    NamePtr name(X509_NAME_new());
    if (!name || !AddUtf8Entry(name.get(), NID_commonName, subject.commonName) ||
        !AddEntry(name.get(), NID_countryName, V_ASN1_PRINTABLESTRING, subject.country) ||
        !AddUtf8Entry(name.get(), NID_organizationName, subject.organization) ||
        (subject.hasUnit && !AddUtf8Entry(name.get(), NID_organizationalUnitName, subject.unit)))
        return nullptr;
    return name;
}

// id-ecPublicKey with the SM2 curve, and the uncompressed point 04 || x || y.
bool SetSm2PublicKey(X509_REQ* req, const unsigned char* x, const unsigned char* y) {
    auto* point = static_cast<unsigned char*>(OPENSSL_malloc(65));
    if (point == nullptr) return false;
    point[0] = 0x04;
    std::memcpy(point + 1, x, 32);
    std::memcpy(point + 33, y, 32);
    if (X509_PUBKEY_set0_param(X509_REQ_get_X509_PUBKEY(req), OBJ_nid2obj(NID_X9_62_id_ecPublicKey),
                               V_ASN1_OBJECT, OBJ_nid2obj(NID_sm2), point, 65) != 1) {
        OPENSSL_free(point);
        return false;
    }
    return true;
}

BIGNUM* FromBigEndian32(const unsigned char* value) { return BN_bin2bn(value, 32, nullptr); }

template <typename T, int (*Encode)(const T*, unsigned char**)>
Bytes Der(const T* value) {
    int len = Encode(value, nullptr);
    if (len <= 0) return Bytes();
    Bytes out(static_cast<size_t>(len));
    unsigned char* p = out.data();
    return Encode(value, &p) == len ? out : Bytes();
}

}  // namespace

unsigned char* EncodeRequestInfo(const SubjectValues& subject, const unsigned char* x,
                                 const unsigned char* y, int32_t& length) {
    NamePtr name = BuildName(subject);
    ReqPtr req(X509_REQ_new());
    if (!name || !req || X509_REQ_set_version(req.get(), 0) != 1 ||
        X509_REQ_set_subject_name(req.get(), name.get()) != 1 || !SetSm2PublicKey(req.get(), x, y))
        return nullptr;
    unsigned char* info = nullptr;
    int len = i2d_re_X509_REQ_tbs(req.get(), &info);
    if (len <= 0) {
        OPENSSL_free(info);
        return nullptr;
    }
    length = len;
    return info;
}

void ReleaseRequestInfo(unsigned char* info) { OPENSSL_free(info); }

Bytes EncodeSignaturePart(const unsigned char* r, const unsigned char* s) {
    SigPtr sig(ECDSA_SIG_new());
    BIGNUM* rn = FromBigEndian32(r);
    BIGNUM* sn = FromBigEndian32(s);
    if (!sig || !rn || !sn || ECDSA_SIG_set0(sig.get(), rn, sn) != 1) {
        BN_free(rn);
        BN_free(sn);
        return Bytes();
    }
    Bytes value = Der<ECDSA_SIG, i2d_ECDSA_SIG>(sig.get());

    AlgPtr alg(X509_ALGOR_new());
    BitsPtr bits(ASN1_BIT_STRING_new());
    if (value.empty() || !alg || !bits ||
        X509_ALGOR_set0(alg.get(), OBJ_nid2obj(NID_SM2_with_SM3), V_ASN1_UNDEF, nullptr) != 1 ||
        ASN1_BIT_STRING_set(bits.get(), value.data(), static_cast<int>(value.size())) != 1)
        return Bytes();
    // Zero unused bits, stated explicitly: otherwise trailing zero bits would be counted as unused.
    bits->flags = (bits->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;

    Bytes rest = Der<X509_ALGOR, i2d_X509_ALGOR>(alg.get());
    Bytes bitString = Der<ASN1_BIT_STRING, i2d_ASN1_BIT_STRING>(bits.get());
    if (rest.empty() || bitString.empty()) return Bytes();
    rest.insert(rest.end(), bitString.begin(), bitString.end());
    return rest;
}

size_t EncodedRequestSize(size_t infoLength, size_t restLength) {
    int size = ASN1_object_size(1, static_cast<int>(infoLength + restLength), V_ASN1_SEQUENCE);
    return size > 0 ? static_cast<size_t>(size) : 0;
}

void WriteRequest(const unsigned char* info, size_t infoLength, const Bytes& rest,
                  unsigned char* out) {
    ASN1_put_object(&out, 1, static_cast<int>(infoLength + rest.size()), V_ASN1_SEQUENCE,
                    V_ASN1_UNIVERSAL);
    std::memcpy(out, info, infoLength);
    std::memcpy(out + infoLength, rest.data(), rest.size());
}

}  // namespace vornic
