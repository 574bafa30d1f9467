// Message functions of the SM2 signed messages, modelled on OpenSSL's PKCS#7 functions.
#pragma once

#include <openssl/bio.h>

#include "gmcrypto/sm2_asn1.h"

// Chooses the message type by its message-structure number (kMsgSigned, ...); the signed type
// also gets its inner contents of type data.
int SM2M_set_type(SM2M* message, int type);
// Sets the inner content type of a signed message.
int SM2M_content_new(SM2M* message, int type);
// Leaves the content out of the encoding.
int SM2M_set_detached(SM2M* message, int detached);
// Adds a signer for `cert` with `key` (a counted reference is kept) and digest `md`.
SM2M_SIGNER_INFO* SM2M_add_signature(SM2M* message, X509* cert, EVP_PKEY* key, const EVP_MD* md);
int SM2M_add_certificate(SM2M* message, X509* cert);
STACK_OF(SM2M_SIGNER_INFO) * SM2M_get_signer_info(SM2M* message);
// The message's certificate with the signer's issuer and serial number (not a new reference).
X509* SM2M_find_signer_cert(SM2M* message, SM2M_SIGNER_INFO* signer);

// Digest streams for each digest algorithm of the message, over `content` (or a null sink).
BIO* SM2M_dataInit(SM2M* message, BIO* content);
// Signs each signer over what went through the streams (signed attributes when present).
int SM2M_dataFinal(SM2M* message, BIO* chain);
// 1 when the signer's signature matches what went through the streams, else 0 or negative.
int SM2M_signatureVerify(BIO* chain, SM2M* message, SM2M_SIGNER_INFO* signer, EVP_PKEY* key);
// 1 when the signer's signature matches `digest` (through its signed attributes, with Z).
int SM2M_digestVerify(const unsigned char* digest, int digestLength, SM2M* message, SM2M_SIGNER_INFO* signer,
                      X509* certificate);

int i2d_SM2M_bio(BIO* out, SM2M* message);
// The signed attribute of `nid`, or null.
ASN1_TYPE* SM2M_get_signed_attribute(SM2M_SIGNER_INFO* signer, int nid);
int SM2M_add_signed_attribute(SM2M_SIGNER_INFO* signer, int nid, int type, void* value);
