// HTTP(S) requests to the cloud services, and the settings all cloud calls share.
#pragma once

#include <curl/curl.h>

#include <map>
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

    // Certificate applications (a PKCS#10 request as Base64) and downloads at the issuance
    // service and, for the "OnGW" calls, at the gateway.
    static CResult RequestCert(std::string& p10, std::string deviceId, std::string name, std::string docID,
                               std::string telephone, std::string email, std::string validity, std::string orderId,
                               std::string caType, std::string platformName, std::string customerId);
    static CResult PersonalRequestCert(std::string& p10, std::string deviceId, std::string name, std::string docID,
                                       std::string telephone, std::string email, std::string validity,
                                       std::string orderId, std::string caType, std::string platformName,
                                       std::string customerId);
    static CResult RequestCertOnGW(std::string& p10, std::string deviceId, std::string& name, std::string& docId,
                                   std::string& tenantType, std::string& customerId, std::string& caType,
                                   std::string& validity, std::string& orderId, std::string& contact,
                                   std::string& ukeyOrderCertId);
    static CResult RequestDoubleCert(std::string& p10, std::string deviceId, std::string& orderId);
    static CResult DnowLoadCert(std::string& cert, std::string deviceId, std::string orderId, std::string sealId);
    static CResult DnowLoadCertOnGW(std::string deviceId, std::string orderId, std::string& contact,
                                    std::string& ukeyOrderCertId, std::string& cert);
    static CResult DnowLoadDoubleCert(std::string deviceId, std::string& pubCert, std::string& encCert,
                                      std::string& encKey);

    // Application credentials: the gateway pair chosen by m_url, the mobile pair by m_mobileUrl.
    static std::string getGWKey();
    static std::string getGWSecert();
    static std::string getMobileKey();
    static std::string getMobileSecert();
    // The four signed header lines for one request (a fresh nonce on every call).
    static std::vector<std::string> getGWHeadInfo();
    static std::vector<std::string> getMobileHeadInfo();

    // The gateway's status check: 0 no verdict, 1 not issued by a known channel or trusted CA,
    // 2 normal, 3 unknown, 4 revoked.
    static int CheckCertValidity(const std::string& serialNo, const std::string& certBase64,
                                 const std::string& algorithm);
    // The gateway's detail text about the certificate, or "UNKNOWN".
    static std::string GetCertStatusMsg(const std::string& serialNo, const std::string& certBase64,
                                        const std::string& algorithm);

    // Mobile signing sessions at the mobile seal service (m_mobileUrl). Raw answers are appended
    // to `response`; none of these writes the last-error string.
    // Selects the environment of the mobile seal service and of the other cloud calls (m_url).
    static void setMobileUrl(const std::string& env);
    static bool generateSignsid(const std::string& bizId, std::string& response, const std::string& title,
                                const std::string& signName, const std::string& docId, const long& customerId,
                                const std::string& userName, const std::string& callbackUrl,
                                const std::string& previewUrl, const std::string& signIp);
    // True when the service accepted the digest; `result` then holds the answer's "result" text.
    static bool uploadDigest(const std::string& signSid, const std::string& signDigest,
                             const std::map<std::string, long>& sealCountMap, bool borderSign, std::string& result,
                             const std::string& fileName);
    static bool getSignStatus(const std::string& signSid, std::string& response);
    // Polls until the phone has signed (at most 21 requests, 300 ms apart); true with the PKCS#7.
    static bool getSignResult(const std::string& signSid, const std::string& signActionId, std::string& p7SignResult);
    static bool finishSign(const std::string& signSid, std::string& response);
    static bool getSealslist(const std::string& signSid, std::string& response);

    static std::string m_url;
    static bool m_isInit;
    static std::string m_mobileUrl;
};

// Sets the environment suffix of the issuance and gateway host names ("com", "cn", ...).
TESSAL_API void ZYKSetURL(std::string url);
