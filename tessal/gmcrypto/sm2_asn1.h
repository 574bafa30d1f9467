/* The ASN.1 module of the SM2 signed-message structures (PKCS#7 syntax with the content types
   of the Chinese cryptographic message syntax), encoded with OpenSSL's template encoder. */
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/evp.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct sm2m_issuer_and_serial_st {
    X509_NAME* issuer;
    ASN1_INTEGER* serial;
} SM2M_ISSUER_AND_SERIAL;

typedef struct sm2m_signer_info_st {
    ASN1_INTEGER* version;
    SM2M_ISSUER_AND_SERIAL* issuer_and_serial;
    X509_ALGOR* digest_alg;
    STACK_OF(X509_ATTRIBUTE) * auth_attr;
    X509_ALGOR* digest_enc_alg;
    ASN1_OCTET_STRING* enc_digest;
    STACK_OF(X509_ATTRIBUTE) * unauth_attr;
    EVP_PKEY* pkey; /* the signer's key, counted reference; not encoded */
} SM2M_SIGNER_INFO;

DEFINE_STACK_OF(SM2M_SIGNER_INFO)

typedef struct sm2m_recip_info_st {
    ASN1_INTEGER* version;
    SM2M_ISSUER_AND_SERIAL* issuer_and_serial;
    X509_ALGOR* key_enc_algor;
    ASN1_OCTET_STRING* enc_key;
    X509* cert; /* counted reference; not encoded */
} SM2M_RECIP_INFO;

DEFINE_STACK_OF(SM2M_RECIP_INFO)

typedef struct sm2m_enc_content_st {
    ASN1_OBJECT* content_type;
    X509_ALGOR* algorithm;
    ASN1_OCTET_STRING* enc_data;
} SM2M_ENC_CONTENT;

struct sm2m_st;

typedef struct sm2m_signed_st {
    ASN1_INTEGER* version;
    STACK_OF(X509_ALGOR) * md_algs;
    struct sm2m_st* contents;
    STACK_OF(X509) * cert;
    STACK_OF(X509_CRL) * crl;
    STACK_OF(SM2M_SIGNER_INFO) * signer_info;
} SM2M_SIGNED;

typedef struct sm2m_enveloped_st {
    ASN1_INTEGER* version;
    STACK_OF(SM2M_RECIP_INFO) * recipientinfo;
    SM2M_ENC_CONTENT* enc_data;
} SM2M_ENVELOPE;

typedef struct sm2m_signedandenveloped_st {
    ASN1_INTEGER* version;
    STACK_OF(SM2M_RECIP_INFO) * recipientinfo;
    STACK_OF(X509_ALGOR) * md_algs;
    SM2M_ENC_CONTENT* enc_data;
    STACK_OF(X509) * cert;
    STACK_OF(X509_CRL) * crl;
    STACK_OF(SM2M_SIGNER_INFO) * signer_info;
} SM2M_SIGN_ENVELOPE;

typedef struct sm2m_encrypted_st {
    ASN1_INTEGER* version;
    SM2M_ENC_CONTENT* enc_data;
} SM2M_ENCRYPT;

typedef struct sm2m_digest_st {
    ASN1_INTEGER* version;
    X509_ALGOR* md;
    struct sm2m_st* contents;
    ASN1_OCTET_STRING* digest;
} SM2M_DIGEST;

typedef struct sm2m_st {
    int detached; /* not encoded */
    ASN1_OBJECT* type;
    union {
        char* ptr;
        ASN1_OCTET_STRING* data;
        SM2M_SIGNED* sign;
        SM2M_ENVELOPE* enveloped;
        SM2M_SIGN_ENVELOPE* signed_and_enveloped;
        SM2M_DIGEST* digest;
        SM2M_ENCRYPT* encrypted;
        ASN1_TYPE* other;
    } d;
} SM2M;

typedef struct sm2_cipher_st {
    ASN1_INTEGER* x;
    ASN1_INTEGER* y;
    ASN1_OCTET_STRING* hash;
    ASN1_OCTET_STRING* cipher;
} SM2_Cipher;

DECLARE_ASN1_FUNCTIONS(SM2M)
DECLARE_ASN1_FUNCTIONS(SM2M_SIGNED)
DECLARE_ASN1_FUNCTIONS(SM2M_SIGNER_INFO)
DECLARE_ASN1_FUNCTIONS(SM2M_ISSUER_AND_SERIAL)
DECLARE_ASN1_FUNCTIONS(SM2M_RECIP_INFO)
DECLARE_ASN1_FUNCTIONS(SM2M_ENC_CONTENT)
DECLARE_ASN1_FUNCTIONS(SM2M_ENVELOPE)
DECLARE_ASN1_FUNCTIONS(SM2M_SIGN_ENVELOPE)
DECLARE_ASN1_FUNCTIONS(SM2M_ENCRYPT)
DECLARE_ASN1_FUNCTIONS(SM2M_DIGEST)
DECLARE_ASN1_FUNCTIONS(SM2_Cipher)
/* Attributes as a DER-sorted SET OF (what is signed), and in stored order (what verification hashes). */
DECLARE_ASN1_ITEM(SM2M_ATTR_SIGN)
DECLARE_ASN1_ITEM(SM2M_ATTR_VERIFY)

/* Translates an OpenSSL object number into the number that selects the message alternative. */
extern int (*sm2m_selector_of)(int nid);

#ifdef __cplusplus
}
#endif
