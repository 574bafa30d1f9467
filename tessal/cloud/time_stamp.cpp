// TimeStamp: RFC 3161 requests to the time service and the tokens in its answers.
#include "tessal/time_stamp.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rand.h>

#include <vector>

#include "api/compiler.h"
#include "api/failure.h"
#include "cloud/cloud_hosts.h"
#include "cloud/time_stamp_query.h"
#include "tessal/http.h"

TESSAL_INIT_PRIORITY(103) std::string TimeStamp::m_TimeStampServerUrl = cloud::TimeServiceUrl();

namespace {
constexpr int kNonceBits = 64;
constexpr int kNonceDerLength = 10;
}  // namespace

CResult TimeStamp::GetTimeStamp(ByteArray& data, ByteArray& token, const std::string& alg) {
    ByteArray query;
    CResult result = CreateTSAQuery(data, query, alg);
    if (result != 0) return result;
    ByteArray response;
    result = CHttpClient::GetTimeStamp(query, response, alg);
    if (result == 0) result = GetTSFromResp(response, token);
    if (result != 0) TESSAL_FAIL_MSG(result, "未能从配置的时间戳服务器地址上获取时间戳", "TimeStamp::GetTimeStamp");
    return result;
}

CResult TimeStamp::CreateTSAQuery(ByteArray& data, ByteArray& query, const std::string& alg) {
    // The bytes create_query and i2d_TS_REQ give, written without their objects.
    query = cloud::TimeStampQueryFor(data, alg == "SM2");
    return CResult();
}

CResult TimeStamp::GetTSFromResp(ByteArray& response, ByteArray& token) {
    CResult result;
    const unsigned char* p = response.data();
    TS_RESP* resp = p ? d2i_TS_RESP(nullptr, &p, response.length()) : nullptr;
    if (!resp) {
        ERR_clear_error();  // the code says it; the decoder's queue would mislead later callers
        TESSAL_FAIL(result, 43, "TimeStamp::GetTSFromResp");
        return result;
    }
    unsigned char* der = nullptr;
    PKCS7* pkcs7 = TS_RESP_get_token(resp);
    int len = pkcs7 ? i2d_PKCS7(pkcs7, &der) : 0;
    if (len <= 0) {
        ERR_clear_error();
        result = 44;
        TS_RESP_free(resp);
        return result;
    }
    token = ByteArray(der, static_cast<unsigned long>(len));
    OPENSSL_free(der);
    TS_RESP_free(resp);
    return result;
}

CResult TimeStamp::BIO2Byte(BIO* bio, ByteArray& out) {
    std::vector<unsigned char> bytes;
    unsigned char block[1024];
    for (;;) {
        int n = BIO_read(bio, block, sizeof block);
        if (n > 0) bytes.insert(bytes.end(), block, block + n);
        if (n < static_cast<int>(sizeof block)) break;
    }
    out = ByteArray(bytes.data(), static_cast<unsigned long>(bytes.size()));
    return CResult();
}

TS_REQ* TimeStamp::create_query(BIO* data, const char* digestHex, const EVP_MD* md, const char* policy,
                                int noNonce, int certReq) {
    if (!md) md = EVP_sha1();
    TS_REQ* request = TS_REQ_new();
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    unsigned char* digest = nullptr;
    ASN1_OBJECT* policyObject = nullptr;
    ASN1_INTEGER* nonce = nullptr;
    bool ok = request && imprint && algorithm && TS_REQ_set_version(request, 1) == 1;
    if (ok) {
        algorithm->algorithm = OBJ_nid2obj(EVP_MD_get_type(md));
        algorithm->parameter = ASN1_TYPE_new();
        ok = algorithm->algorithm && algorithm->parameter;
        if (ok) algorithm->parameter->type = V_ASN1_NULL;
    }
    ok = ok && TS_MSG_IMPRINT_set_algo(imprint, algorithm) == 1;
    int length = ok ? create_digest(data, digestHex, md, &digest) : 0;
    ok = ok && length > 0 && TS_MSG_IMPRINT_set_msg(imprint, digest, length) == 1 &&
         TS_REQ_set_msg_imprint(request, imprint) == 1;
    if (ok && policy) {
        policyObject = txt2obj(policy);
        ok = policyObject && TS_REQ_set_policy_id(request, policyObject) == 1;
    }
    if (ok && !noNonce) {
        // Redrawn until its DER form is exactly 10 bytes: 8 significant bytes, first below 0x80.
        for (;;) {
            ASN1_INTEGER_free(nonce);
            nonce = create_nonce(kNonceBits);
            if (!nonce) break;
            if (i2d_ASN1_INTEGER(nonce, nullptr) == kNonceDerLength) break;
        }
        ok = nonce && TS_REQ_set_nonce(request, nonce) == 1;
    }
    ok = ok && TS_REQ_set_cert_req(request, certReq) == 1;
    TS_MSG_IMPRINT_free(imprint);
    X509_ALGOR_free(algorithm);
    OPENSSL_free(digest);
    ASN1_OBJECT_free(policyObject);
    ASN1_INTEGER_free(nonce);
    if (!ok) {
        TS_REQ_free(request);
        return nullptr;
    }
    return request;
}

int TimeStamp::create_digest(BIO* data, const char* digestHex, const EVP_MD* md, unsigned char** out) {
    int size = EVP_MD_get_size(md);
    if (size <= 0) return 0;
    *out = static_cast<unsigned char*>(OPENSSL_malloc(static_cast<size_t>(size)));
    if (!*out) return 0;
    if (data) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        unsigned char buffer[4096];
        bool ok = ctx && EVP_DigestInit(ctx, md) == 1;
        int n;
        while (ok && (n = BIO_read(data, buffer, sizeof buffer)) > 0) ok = EVP_DigestUpdate(ctx, buffer, n) == 1;
        ok = ok && EVP_DigestFinal(ctx, *out, nullptr) == 1;
        EVP_MD_CTX_free(ctx);
        if (ok) return size;
    } else if (digestHex) {
        long length = 0;
        unsigned char* bytes = OPENSSL_hexstr2buf(digestHex, &length);
        if (bytes && length == size) {
            OPENSSL_free(*out);
            *out = bytes;
            return size;
        }
        OPENSSL_free(bytes);
    }
    OPENSSL_free(*out);
    *out = nullptr;
    return 0;
}

ASN1_INTEGER* TimeStamp::create_nonce(int bits) {
    unsigned char buffer[20];
    int length = (bits - 1) / 8 + 1;
    if (length > static_cast<int>(sizeof buffer)) return nullptr;
    if (RAND_bytes(buffer, length) <= 0) return nullptr;
    int start = 0;
    while (start < length && buffer[start] == 0) ++start;
    BIGNUM* bn = BN_bin2bn(buffer + start, length - start, nullptr);
    ASN1_INTEGER* nonce = bn ? BN_to_ASN1_INTEGER(bn, nullptr) : nullptr;
    BN_free(bn);
    return nonce;
}

ASN1_OBJECT* TimeStamp::txt2obj(const char* text) { return OBJ_txt2obj(text, 0); }
