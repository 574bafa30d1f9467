#include "time_service.h"

#include <openssl/evp.h>
#include <openssl/ts.h>

#include <atomic>

#include "kit/hex.h"

namespace {

std::atomic<long> g_serial{1};

ASN1_INTEGER* NextSerial(TS_RESP_CTX*, void*) {
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, g_serial++);
    return serial;
}

std::string Encode(TS_RESP* resp) {
    unsigned char* der = nullptr;
    int len = resp ? i2d_TS_RESP(resp, &der) : -1;
    std::string out = len > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(len)) : std::string();
    OPENSSL_free(der);
    return out;
}

}  // namespace

std::string TimeService::Respond(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    ASN1_OBJECT* policy = OBJ_txt2obj("1.3.6.1.4.1.99999.1.1", 1);
    TS_RESP_CTX_set_signer_cert(ctx, m_pki.tsa);
    TS_RESP_CTX_set_signer_key(ctx, m_pki.tsaKey);
    TS_RESP_CTX_set_signer_digest(ctx, EVP_sha256());
    TS_RESP_CTX_set_def_policy(ctx, policy);
    TS_RESP_CTX_add_md(ctx, EVP_sha1());
    TS_RESP_CTX_add_md(ctx, EVP_sha256());
    TS_RESP_CTX_add_md(ctx, EVP_sm3());
    TS_RESP_CTX_set_serial_cb(ctx, NextSerial, nullptr);
    STACK_OF(X509)* chain = sk_X509_new_null();
    sk_X509_push(chain, m_pki.ca);
    TS_RESP_CTX_set_certs(ctx, chain);
    TS_RESP_CTX_set_accuracy(ctx, 1, 0, 0);
    BIO* in = BIO_new_mem_buf(request.data(), static_cast<int>(request.size()));
    TS_RESP* resp = TS_RESP_create_response(ctx, in);
    std::string out = Encode(resp);
    TS_RESP_free(resp);
    BIO_free(in);
    sk_X509_free(chain);
    ASN1_OBJECT_free(policy);
    TS_RESP_CTX_free(ctx);
    return out;
}

std::string TimeService::Rejection() {
    TS_RESP* resp = TS_RESP_new();
    TS_STATUS_INFO* status = TS_STATUS_INFO_new();
    TS_STATUS_INFO_set_status(status, TS_STATUS_REJECTION);
    TS_RESP_set_status_info(resp, status);
    std::string out = Encode(resp);
    TS_STATUS_INFO_free(status);
    TS_RESP_free(resp);
    return out;
}

bool ValidTimestampToken(const std::string& time, const std::string& token) {
    std::string text = time + "velmarquot";
    unsigned char digest[16];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
    return !time.empty() && kit::HexText(digest, len) == token;
}
