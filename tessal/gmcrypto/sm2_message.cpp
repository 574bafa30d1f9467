#include "gmcrypto/sm2_message.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstring>
#include <vector>

#include "gmcrypto/sm2_method.h"
#include "gmcrypto/sm_objects.h"

namespace {

// The ASN.1 module selects alternatives by message-structure number.
struct SelectorInstaller {
    SelectorInstaller() { sm2m_selector_of = ExpectedNumberOf; }
};
SelectorInstaller g_selectorInstaller;

bool IsType(const SM2M* message, int type) { return message && OBJ_obj2nid(message->type) == GetNID(type); }
// Of that type and with its content present: a decoded message may name its type and omit the content.
bool HasBody(const SM2M* message, int type) { return IsType(message, type) && message->d.ptr; }

X509_ALGOR* AlgorithmWithNull(int nid) {
    X509_ALGOR* alg = X509_ALGOR_new();
    if (alg) X509_ALGOR_set0(alg, OBJ_nid2obj(nid), V_ASN1_NULL, nullptr);
    return alg;
}

// The digest stream of `nid` in the chain, or null.
BIO* FindDigest(BIO* chain, int nid) {
    for (BIO* b = chain; (b = BIO_find_type(b, BIO_TYPE_MD)) != nullptr; b = BIO_next(b)) {
        EVP_MD_CTX* ctx = nullptr;
        BIO_get_md_ctx(b, &ctx);
        if (ctx && EVP_MD_get_type(EVP_MD_CTX_get0_md(ctx)) == nid) return b;
    }
    return nullptr;
}

STACK_OF(X509_ALGOR) * DigestAlgorithms(SM2M* message) {
    if (HasBody(message, kMsgSigned)) return message->d.sign->md_algs;
    if (HasBody(message, kMsgSignedAndEnveloped)) return message->d.signed_and_enveloped->md_algs;
    return nullptr;
}

bool EncodeAttributes(SM2M_SIGNER_INFO* si, const ASN1_ITEM* item, std::vector<unsigned char>& out) {
    unsigned char* der = nullptr;
    int len = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &der, item);
    if (len <= 0) return false;
    out.assign(der, der + len);
    OPENSSL_free(der);
    return true;
}

}  // namespace

int SM2M_set_type(SM2M* message, int type) {
    int nid = GetNID(type);
    if (!nid) return 0;
    message->type = OBJ_nid2obj(nid);
    switch (type) {
        case kMsgSigned:
            message->d.sign = SM2M_SIGNED_new();
            if (!message->d.sign || !ASN1_INTEGER_set(message->d.sign->version, 1)) return 0;
            if (!message->d.sign->contents && !(message->d.sign->contents = SM2M_new())) return 0;
            message->d.sign->contents->type = OBJ_nid2obj(GetNID(kMsgData));
            return 1;
        case kMsgData:
            message->d.data = ASN1_OCTET_STRING_new();
            return message->d.data != nullptr;
        case kMsgSignedAndEnveloped:
            message->d.signed_and_enveloped = SM2M_SIGN_ENVELOPE_new();
            return message->d.signed_and_enveloped && ASN1_INTEGER_set(message->d.signed_and_enveloped->version, 1);
        case kMsgEnveloped:
            message->d.enveloped = SM2M_ENVELOPE_new();
            return message->d.enveloped && ASN1_INTEGER_set(message->d.enveloped->version, 0);
        case kMsgEncrypted:
            message->d.encrypted = SM2M_ENCRYPT_new();
            return message->d.encrypted && ASN1_INTEGER_set(message->d.encrypted->version, 0);
        case kMsgKeyExchange:
            message->d.digest = SM2M_DIGEST_new();
            return message->d.digest && ASN1_INTEGER_set(message->d.digest->version, 0);
        default:
            return 0;
    }
}

int SM2M_content_new(SM2M* message, int type) {
    if (!HasBody(message, kMsgSigned)) return 0;
    SM2M* inner = SM2M_new();
    if (!inner || !SM2M_set_type(inner, type)) {
        SM2M_free(inner);
        return 0;
    }
    SM2M_free(message->d.sign->contents);
    message->d.sign->contents = inner;
    return 1;
}

int SM2M_set_detached(SM2M* message, int detached) {
    if (!HasBody(message, kMsgSigned)) return 0;
    message->detached = detached;
    SM2M* inner = message->d.sign->contents;
    if (detached && inner && IsType(inner, kMsgData)) {
        ASN1_OCTET_STRING_free(inner->d.data);
        inner->d.data = nullptr;
    }
    return 1;
}

SM2M_SIGNER_INFO* SM2M_add_signature(SM2M* message, X509* cert, EVP_PKEY* key, const EVP_MD* md) {
    STACK_OF(X509_ALGOR)* algs = DigestAlgorithms(message);
    if (!algs || !cert || !key || !md) return nullptr;
    SM2M_SIGNER_INFO* si = SM2M_SIGNER_INFO_new();
    int mdNid = EVP_MD_get_type(md);
    bool ok = si && ASN1_INTEGER_set(si->version, 1) &&
              X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(cert)) == 1;
    if (ok) {
        ASN1_INTEGER_free(si->issuer_and_serial->serial);
        si->issuer_and_serial->serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert));
        ok = si->issuer_and_serial->serial != nullptr;
    }
    if (ok) {
        X509_ALGOR_set0(si->digest_alg, OBJ_nid2obj(mdNid), V_ASN1_NULL, nullptr);
        X509_ALGOR_set0(si->digest_enc_alg, OBJ_nid2obj(GetNID(kSm2WithSm3)), V_ASN1_UNDEF, nullptr);
        ok = EVP_PKEY_up_ref(key) == 1;
        if (ok) si->pkey = key;
    }
    bool listed = false;
    for (int i = 0; ok && i < sk_X509_ALGOR_num(algs); ++i)
        listed = listed || OBJ_obj2nid(sk_X509_ALGOR_value(algs, i)->algorithm) == mdNid;
    if (ok && !listed) {
        X509_ALGOR* alg = AlgorithmWithNull(mdNid);
        ok = alg && sk_X509_ALGOR_push(algs, alg) > 0;
        if (!ok) X509_ALGOR_free(alg);
    }
    STACK_OF(SM2M_SIGNER_INFO)* signers = SM2M_get_signer_info(message);
    ok = ok && signers && sk_SM2M_SIGNER_INFO_push(signers, si) > 0;
    if (!ok) {
        SM2M_SIGNER_INFO_free(si);
        return nullptr;
    }
    return si;
}

int SM2M_add_certificate(SM2M* message, X509* cert) {
    if (!HasBody(message, kMsgSigned) || !cert) return 0;
    STACK_OF(X509)** certs = &message->d.sign->cert;
    if (!*certs && !(*certs = sk_X509_new_null())) return 0;
    if (X509_up_ref(cert) != 1) return 0;
    if (sk_X509_push(*certs, cert) <= 0) {
        X509_free(cert);
        return 0;
    }
    return 1;
}

STACK_OF(SM2M_SIGNER_INFO) * SM2M_get_signer_info(SM2M* message) {
    if (HasBody(message, kMsgSigned)) return message->d.sign->signer_info;
    if (HasBody(message, kMsgSignedAndEnveloped)) return message->d.signed_and_enveloped->signer_info;
    return nullptr;
}

X509* SM2M_find_signer_cert(SM2M* message, SM2M_SIGNER_INFO* signer) {
    STACK_OF(X509)* certs = HasBody(message, kMsgSigned) ? message->d.sign->cert : nullptr;
    if (!certs || !signer) return nullptr;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* cert = sk_X509_value(certs, i);
        if (X509_NAME_cmp(X509_get_issuer_name(cert), signer->issuer_and_serial->issuer) == 0 &&
            ASN1_INTEGER_cmp(X509_get0_serialNumber(cert), signer->issuer_and_serial->serial) == 0)
            return cert;
    }
    return nullptr;
}

BIO* SM2M_dataInit(SM2M* message, BIO* content) {
    STACK_OF(X509_ALGOR)* algs = DigestAlgorithms(message);
    if (!algs) return nullptr;
    BIO* chain = nullptr;
    for (int i = 0; i < sk_X509_ALGOR_num(algs); ++i) {
        const EVP_MD* md = EVP_get_digestbynid(OBJ_obj2nid(sk_X509_ALGOR_value(algs, i)->algorithm));
        BIO* digest = md ? BIO_new(BIO_f_md()) : nullptr;
        if (!digest || BIO_set_md(digest, md) != 1) {
            BIO_free(digest);
            BIO_free_all(chain);
            return nullptr;
        }
        chain = chain ? BIO_push(chain, digest) : digest;
    }
    BIO* sink = content ? content : BIO_new(BIO_s_null());
    if (!sink) {
        BIO_free_all(chain);
        return nullptr;
    }
    return chain ? BIO_push(chain, sink) : sink;
}

int SM2M_dataFinal(SM2M* message, BIO* chain) {
    STACK_OF(SM2M_SIGNER_INFO)* signers = SM2M_get_signer_info(message);
    if (!signers) return 0;
    for (int i = 0; i < sk_SM2M_SIGNER_INFO_num(signers); ++i) {
        SM2M_SIGNER_INFO* si = sk_SM2M_SIGNER_INFO_value(signers, i);
        BIO* stream = FindDigest(chain, OBJ_obj2nid(si->digest_alg->algorithm));
        EVP_MD_CTX* streamed = nullptr;
        if (!stream || BIO_get_md_ctx(stream, &streamed) != 1 || !si->pkey) return 0;
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        std::vector<unsigned char> sig(static_cast<size_t>(EVP_PKEY_get_size(si->pkey)) + 16);
        unsigned int sigLen = 0;
        bool ok = ctx && EVP_MD_CTX_copy_ex(ctx, streamed) == 1;
        if (ok && sk_X509_ATTRIBUTE_num(si->auth_attr) > 0) {
            // With signed attributes the signature covers them; they carry the content's digest.
            unsigned char md[EVP_MAX_MD_SIZE];
            unsigned int mdLen = 0;
            ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
            std::vector<unsigned char> attrs;
            ok = EVP_DigestFinal_ex(ctx, md, &mdLen) == 1 && value && ASN1_OCTET_STRING_set(value, md, mdLen) == 1 &&
                 SM2M_add_signed_attribute(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, value) == 1;
            if (!ok) ASN1_OCTET_STRING_free(value);
            ok = ok && EncodeAttributes(si, ASN1_ITEM_rptr(SM2M_ATTR_SIGN), attrs) &&
                 EVP_SignInit_ex(ctx, EVP_MD_CTX_get0_md(streamed), nullptr) == 1 &&
                 EVP_SignUpdate(ctx, attrs.data(), attrs.size()) == 1;
        }
        ok = ok && EVP_SignFinal(ctx, sig.data(), &sigLen, si->pkey) == 1 &&
             ASN1_STRING_set(si->enc_digest, sig.data(), static_cast<int>(sigLen)) == 1;
        EVP_MD_CTX_free(ctx);
        if (!ok) return 0;
    }
    return 1;
}

int SM2M_signatureVerify(BIO* chain, SM2M* message, SM2M_SIGNER_INFO* signer, EVP_PKEY* key) {
    if (!HasBody(message, kMsgSigned) && !HasBody(message, kMsgSignedAndEnveloped)) return -1;
    BIO* stream = FindDigest(chain, OBJ_obj2nid(signer->digest_alg->algorithm));
    EVP_MD_CTX* streamed = nullptr;
    if (!stream || BIO_get_md_ctx(stream, &streamed) != 1) return -1;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_MD_CTX_copy_ex(ctx, streamed) == 1;
    if (ok && sk_X509_ATTRIBUTE_num(signer->auth_attr) > 0) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int mdLen = 0;
        ASN1_TYPE* expected = SM2M_get_signed_attribute(signer, NID_pkcs9_messageDigest);
        std::vector<unsigned char> attrs;
        ok = EVP_DigestFinal_ex(ctx, md, &mdLen) == 1 && expected && expected->type == V_ASN1_OCTET_STRING &&
             ASN1_STRING_length(expected->value.octet_string) == static_cast<int>(mdLen) &&
             std::memcmp(ASN1_STRING_get0_data(expected->value.octet_string), md, mdLen) == 0 &&
             EncodeAttributes(signer, ASN1_ITEM_rptr(SM2M_ATTR_VERIFY), attrs) &&
             EVP_VerifyInit_ex(ctx, EVP_MD_CTX_get0_md(streamed), nullptr) == 1 &&
             EVP_VerifyUpdate(ctx, attrs.data(), attrs.size()) == 1;
    }
    int result = ok ? EVP_VerifyFinal(ctx, ASN1_STRING_get0_data(signer->enc_digest),
                                      static_cast<unsigned int>(ASN1_STRING_length(signer->enc_digest)), key)
                    : 0;
    EVP_MD_CTX_free(ctx);
    ERR_clear_error();
    return result == 1 ? 1 : (result < 0 ? -1 : 0);
}

int SM2M_digestVerify(const unsigned char* digest, int digestLength, SM2M* message, SM2M_SIGNER_INFO* signer,
                      X509* certificate) {
    if (!HasBody(message, kMsgSigned) && !HasBody(message, kMsgSignedAndEnveloped)) return 0;
    EVP_PKEY* key = certificate ? X509_get0_pubkey(certificate) : nullptr;
    if (!key || !signer) return -1;
    const unsigned char* sig = ASN1_STRING_get0_data(signer->enc_digest);
    size_t sigLen = static_cast<size_t>(ASN1_STRING_length(signer->enc_digest));
    int result = -1;
    if (sk_X509_ATTRIBUTE_num(signer->auth_attr) > 0) {
        // The signature covers the attributes (SM3 with Z); they must carry this digest.
        ASN1_TYPE* expected = SM2M_get_signed_attribute(signer, NID_pkcs9_messageDigest);
        std::vector<unsigned char> attrs;
        if (!expected || expected->type != V_ASN1_OCTET_STRING ||
            ASN1_STRING_length(expected->value.octet_string) != digestLength ||
            std::memcmp(ASN1_STRING_get0_data(expected->value.octet_string), digest, static_cast<size_t>(digestLength)))
            return -1;
        if (!EncodeAttributes(signer, ASN1_ITEM_rptr(SM2M_ATTR_VERIFY), attrs)) return -1;
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
        if (md && pctx && EVP_PKEY_CTX_set1_id(pctx, kDefaultSm2Id, 16) == 1) {
            EVP_MD_CTX_set_pkey_ctx(md, pctx);
            if (EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1)
                result = EVP_DigestVerify(md, sig, sigLen, attrs.data(), attrs.size());
        }
        EVP_MD_CTX_free(md);
        EVP_PKEY_CTX_free(pctx);
    } else {
        // Without attributes the signature is over the digest itself (an SM3 value, no Z).
        EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
        if (pctx && EVP_PKEY_verify_init(pctx) == 1 && EVP_PKEY_CTX_set_signature_md(pctx, EVP_sm3()) == 1)
            result = EVP_PKEY_verify(pctx, sig, sigLen, digest, static_cast<size_t>(digestLength));
        EVP_PKEY_CTX_free(pctx);
    }
    ERR_clear_error();
    return result;
}

int i2d_SM2M_bio(BIO* out, SM2M* message) { return ASN1_item_i2d_bio(ASN1_ITEM_rptr(SM2M), out, message); }

ASN1_TYPE* SM2M_get_signed_attribute(SM2M_SIGNER_INFO* signer, int nid) {
    int index = X509at_get_attr_by_NID(signer->auth_attr, nid, -1);
    if (index < 0) return nullptr;
    return X509_ATTRIBUTE_get0_type(X509at_get_attr(signer->auth_attr, index), 0);
}

int SM2M_add_signed_attribute(SM2M_SIGNER_INFO* signer, int nid, int type, void* value) {
    int index = X509at_get_attr_by_NID(signer->auth_attr, nid, -1);
    if (index >= 0) X509_ATTRIBUTE_free(X509at_delete_attr(signer->auth_attr, index));
    X509_ATTRIBUTE* attr = X509_ATTRIBUTE_create(nid, type, value);
    if (!attr) return 0;
    if (!signer->auth_attr && !(signer->auth_attr = sk_X509_ATTRIBUTE_new_null())) {
        X509_ATTRIBUTE_free(attr);
        return 0;
    }
    if (sk_X509_ATTRIBUTE_push(signer->auth_attr, attr) <= 0) {
        X509_ATTRIBUTE_free(attr);
        return 0;
    }
    return 1;
}
