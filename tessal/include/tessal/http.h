// HTTP(S) requests to the cloud services, and the settings all cloud calls share.
#pragma once

#include <curl/curl.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "tessal/byte_array.h"
#include "tessal/export.h"
#include "tessal/result.h"

// One synchronous request per call; the result is libcurl's code (0 is success; an HTTP
// error page is a success with the page in `response`). Responses are appended to.
class TESSAL_API CHttp {
public:
    CHttp();
    CHttp& operator=(const CHttp& other);
    ~CHttp();

    int Get(const std::string& url, const std::vector<std::string>& headers, std::string& response);
    CURLcode Gets(const std::string& url, const std::vector<std::string>& headers, std::string& response,
                  const char* caFile);
    int Post(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
             std::string& response);
    int Posts(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
              std::string& response, const char* caFile);
    int Posts(const std::string& url, const std::vector<std::string>& headers,
              const std::unordered_map<std::string, std::string>& form, std::string& response, const char* caFile);
    int Posts(const std::string& url, const std::vector<std::string>& headers, const ByteArray& body,
              ByteArray& response, const char* caFile);

    bool m_verbose;
};

// The cloud calls of the library; every member is static.
class TESSAL_API CHttpClient {
public:
    static CResult InitCurl();
    // One exchange with the time service ("SM2" selects the SM2 service); the answer is appended.
    static CResult GetTimeStamp(ByteArray& query, ByteArray& response, const std::string& alg);
    // Downloads a CRL from `url` (the body, DER or PEM, is appended to `data` unchanged);
    // true when the transfer succeeded, whatever the HTTP status.
    static bool GetCRLData(const std::string& url, std::string& data);

    static std::string m_url;
    static bool m_isInit;
    static std::string m_mobileUrl;
};

// Sets the environment suffix of the issuance and gateway host names ("com", "cn", ...).
TESSAL_API void ZYKSetURL(std::string url);
