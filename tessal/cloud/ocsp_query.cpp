// OCSP::OCSP_Query: asks the responder named in a certificate for its revocation status.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "api/console.h"
#include "api/log.h"
#include "certs/der_objects.h"
#include "cloud/ocsp.h"
#include "cloud/ocsp_answer.h"
#include "cloud/ocsp_exchange.h"

namespace {

constexpr int kUnknown = 1;

// The first OCSP responder URL of the certificate's Authority Information Access; false when none.
bool FirstResponderUrl(X509* certificate, std::string& url) {
    STACK_OF(OPENSSL_STRING)* urls = X509_get1_ocsp(certificate);
    if (urls && sk_OPENSSL_STRING_num(urls) > 0) url = sk_OPENSSL_STRING_value(urls, 0);
    bool found = urls && sk_OPENSSL_STRING_num(urls) > 0;
    X509_email_free(urls);
    return found;
}

bool ParseResponderUrl(const std::string& url, cloud::OcspResponder& responder) {
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    int tls = 0;
    bool ok = OCSP_parse_url(url.c_str(), &host, &port, &path, &tls) == 1;
    if (ok) responder = {host, port, path, tls != 0};
    OPENSSL_free(host);
    OPENSSL_free(port);
    OPENSSL_free(path);
    return ok;
}

// A request for one certificate with a fresh 16-byte nonce; `id` stays owned by the request.
OcspRequestPtr BuildRequest(X509* certificate, X509* issuer, OCSP_CERTID*& id) {
    OcspRequestPtr request(OCSP_REQUEST_new());
    id = OCSP_cert_to_id(EVP_sha1(), certificate, issuer);
    if (!request || !id || !OCSP_request_add0_id(request.get(), id)) {
        OCSP_CERTID_free(id);
        id = nullptr;
        return nullptr;
    }
    OCSP_request_add1_nonce(request.get(), nullptr, -1);
    return request;
}

}  // namespace

int OCSP::OCSP_Query(const std::string& cert, const std::string& issuer, std::string& response) {
    X509Ptr issuerCert = CertificateFromBase64(issuer);
    if (!issuerCert) {
        TLOG_ERROR("issuer_x509 parse error");
        return kUnknown;
    }
    X509Ptr certificate = CertificateFromBase64(cert);
    if (!certificate) {
        TLOG_ERROR("X509 parse error");
        return kUnknown;
    }
    std::string url;
    if (!FirstResponderUrl(certificate.get(), url)) {
        TLOG_ERROR("uri parse error");
        return kUnknown;
    }
    cloud::OcspResponder responder;
    if (!ParseResponderUrl(url, responder)) {
        TLOG_ERROR("Error parsing URL");
        ERR_clear_error();
        return kUnknown;
    }
    OCSP_CERTID* id = nullptr;
    OcspRequestPtr request = BuildRequest(certificate.get(), issuerCert.get(), id);
    if (!request) {
        ConsoleWrite("Error Creating OCSP request\n");
        TLOG_ERROR("add_ocsp_cert failure");
        ERR_clear_error();
        return kUnknown;
    }
    OcspResponsePtr answer(cloud::ExchangeWithResponder(responder, request.get()));
    if (!answer) return kUnknown;
    return cloud::StatusOfOcspAnswer(answer.get(), request.get(), id, issuerCert.get(), response);
}
