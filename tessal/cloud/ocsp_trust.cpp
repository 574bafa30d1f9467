#include "cloud/ocsp_trust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "api/log.h"
#include "certs/signature_check.h"

namespace cloud {
namespace {

bool IsCurrentlyValid(X509* certificate) {
    return X509_cmp_current_time(X509_get0_notBefore(certificate)) < 0 &&
           X509_cmp_current_time(X509_get0_notAfter(certificate)) > 0;
}

// A responder certificate the issuer delegated OCSP signing to.
bool IsDelegatedResponder(X509* signer, X509* issuer) {
    if (X509_check_issued(issuer, signer) != X509_V_OK || !IsSignedBy(signer, X509_get0_pubkey(issuer))) {
        TLOG_ERROR("OCSP responder certificate not issued by the certificate's issuer");
        return false;
    }
    if (!(X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(signer) & XKU_OCSP_SIGN)) {
        TLOG_ERROR("OCSP responder certificate lacks the OCSP signing usage");
        return false;
    }
    if (!IsCurrentlyValid(signer)) {
        TLOG_ERROR("OCSP responder certificate outside its validity period");
        return false;
    }
    return true;
}

bool IsSignedByIssuerOrDelegate(OCSP_BASICRESP* answer, X509* issuer) {
    // The signer is looked for among the answer's own certificates, then is the issuer given.
    STACK_OF(X509)* known = sk_X509_new_null();
    X509* signer = nullptr;
    bool found = known && sk_X509_push(known, issuer) > 0 && OCSP_resp_get0_signer(answer, &signer, known) > 0;
    sk_X509_free(known);
    if (!found || !signer) {
        TLOG_ERROR("OCSP response signer not found");
        return false;
    }
    bool trustedSigner = X509_cmp(signer, issuer) == 0 || IsDelegatedResponder(signer, issuer);
    if (trustedSigner && IsSignedBy(answer, X509_get0_pubkey(signer))) return true;
    if (trustedSigner) TLOG_ERROR("OCSP response signature does not verify");
    return false;
}

}  // namespace

bool IsTrustedAnswer(OCSP_BASICRESP* answer, OCSP_REQUEST* request, X509* issuer, ASN1_GENERALIZEDTIME* thisUpdate,
                     ASN1_GENERALIZEDTIME* nextUpdate) {
    bool trusted = IsSignedByIssuerOrDelegate(answer, issuer);
    if (trusted && OCSP_check_nonce(request, answer) == 0) {
        TLOG_ERROR("OCSP response nonce differs from the request's");
        trusted = false;
    }
    if (trusted && OCSP_check_validity(thisUpdate, nextUpdate, kOcspClockSkewSeconds, -1) != 1) {
        TLOG_ERROR("OCSP response outside its thisUpdate/nextUpdate period");
        trusted = false;
    }
    ERR_clear_error();
    return trusted;
}

}  // namespace cloud
