#include "certs/signature_check.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include "certs/der_objects.h"
#include "gmcrypto/sm2_method.h"

namespace {

// The DER of a signed structure split into its three parts.
struct SignedParts {
    const unsigned char* tbs = nullptr;
    long tbsLength = 0;
    X509_ALGOR* algorithm = nullptr;
    ASN1_BIT_STRING* signature = nullptr;

    ~SignedParts() {
        X509_ALGOR_free(algorithm);
        ASN1_BIT_STRING_free(signature);
    }
};

bool Split(const unsigned char* der, long length, SignedParts& parts) {
    const unsigned char* p = der;
    long contentLength = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &contentLength, &tag, &cls, length) & 0x80 || tag != V_ASN1_SEQUENCE) return false;
    const unsigned char* end = p + contentLength;
    const unsigned char* tbsStart = p;
    long tbsContent = 0;
    if (ASN1_get_object(&p, &tbsContent, &tag, &cls, end - p) & 0x80 || tag != V_ASN1_SEQUENCE) return false;
    p += tbsContent;
    parts.tbs = tbsStart;
    parts.tbsLength = p - tbsStart;
    parts.algorithm = d2i_X509_ALGOR(nullptr, &p, end - p);
    parts.signature = parts.algorithm ? d2i_ASN1_BIT_STRING(nullptr, &p, end - p) : nullptr;
    return parts.signature != nullptr;
}

bool Verify(const SignedParts& parts, EVP_PKEY* key) {
    int digestNid = NID_undef, keyNid = NID_undef;
    if (!OBJ_find_sigid_algs(OBJ_obj2nid(parts.algorithm->algorithm), &digestNid, &keyNid)) return false;
    const EVP_MD* digest = digestNid == NID_undef ? nullptr : EVP_get_digestbynid(digestNid);
    if (digestNid != NID_undef && !digest) return false;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    bool ok = md && EVP_DigestVerifyInit(md, &pctx, digest, nullptr, key) == 1;
    if (ok && EVP_PKEY_is_a(key, "SM2")) ok = EVP_PKEY_CTX_set1_id(pctx, kDefaultSm2Id, sizeof kDefaultSm2Id - 1) == 1;
    ok = ok && EVP_DigestVerify(md, ASN1_STRING_get0_data(parts.signature),
                                static_cast<size_t>(ASN1_STRING_length(parts.signature)), parts.tbs,
                                static_cast<size_t>(parts.tbsLength)) == 1;
    EVP_MD_CTX_free(md);
    return ok;
}

bool DerSignedBy(const std::string& der, EVP_PKEY* key) {
    return VerifySignedDer(reinterpret_cast<const unsigned char*>(der.data()), static_cast<long>(der.size()), key);
}

}  // namespace

bool VerifySignedDer(const unsigned char* der, long length, EVP_PKEY* key) {
    SignedParts parts;
    bool ok = der && key && Split(der, length, parts) && Verify(parts, key);
    ERR_clear_error();
    return ok;
}

bool IsSignedBy(X509* certificate, EVP_PKEY* key) { return DerSignedBy(DerOf(certificate, i2d_X509), key); }

bool IsSignedBy(X509_CRL* crl, EVP_PKEY* key) { return DerSignedBy(DerOf(crl, i2d_X509_CRL), key); }

bool IsSignedBy(OCSP_BASICRESP* response, EVP_PKEY* key) {
    return DerSignedBy(DerOf(response, i2d_OCSP_BASICRESP), key);
}
