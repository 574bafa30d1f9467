// RFC 3161 time-stamps from the maker's time service.
#pragma once

#include <openssl/bio.h>
#include <openssl/ts.h>

#include <string>

#include "tessal/byte_array.h"
#include "tessal/export.h"
#include "tessal/result.h"

class TESSAL_API TimeStamp {
public:
    // Time-stamps `data` (SM3 and the SM2 service for "SM2", else SHA-1); on success `token`
    // holds the DER TimeStampToken.
    static CResult GetTimeStamp(ByteArray& data, ByteArray& token, const std::string& alg);

    static std::string m_TimeStampServerUrl;

private:
    static CResult CreateTSAQuery(ByteArray& data, ByteArray& query, const std::string& alg);
    static CResult GetTSFromResp(ByteArray& response, ByteArray& token);
    static CResult BIO2Byte(BIO* bio, ByteArray& out);
    static TS_REQ* create_query(BIO* data, const char* digestHex, const EVP_MD* md, const char* policy,
                                int noNonce, int certReq);
    static int create_digest(BIO* data, const char* digestHex, const EVP_MD* md, unsigned char** out);
    static ASN1_INTEGER* create_nonce(int bits);
    static ASN1_OBJECT* txt2obj(const char* text);

    friend class TimeStampTestAccess;
};
