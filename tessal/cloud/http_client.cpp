// CHttpClient's shared settings, libcurl initialisation and the time-service exchange.
#include <chrono>

#include "api/compiler.h"
#include "api/encodings.h"
#include "api/failure.h"
#include "cloud/cloud_hosts.h"
#include "tessal/http.h"

TESSAL_INIT_PRIORITY(103) std::string CHttpClient::m_url = "com";
bool CHttpClient::m_isInit = false;
TESSAL_INIT_PRIORITY(103) std::string CHttpClient::m_mobileUrl = cloud::MobileSealUrl("com");

void ZYKSetURL(std::string url) { CHttpClient::m_url = url; }

CResult CHttpClient::InitCurl() {
    CResult result;
    if (m_isInit) return result;
    if (curl_global_init(0) != CURLE_OK) {
        TESSAL_FAIL(result, 32, "CHttpClient::InitCurl");
        return result;
    }
    m_isInit = true;
    return result;
}

CResult CHttpClient::GetTimeStamp(ByteArray& query, ByteArray& response, const std::string& alg) {
    CResult result;
    auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    long long ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
    std::string t = std::to_string(ticks / 10000);
    std::string tokenText = t + "velmarquot";
    std::vector<std::string> headers = {
        "x-zyk-timestamp:" + t,
        "x-zyk-timestamp-token:" + Md5Hex(ByteArray(tokenText.data(), static_cast<int>(tokenText.size()))),
        "Content-Type: application/json;charset=UTF-8",
        "Cache-Control: no-cache",
    };
    std::string url = alg == "SM2" ? cloud::Sm2TimeServiceUrl() : cloud::TimeServiceUrl();
    CHttp http;
    int rc = http.Posts(url, headers, query, response, nullptr);
    if (rc != 0 || response.IsEmpty()) {
        TESSAL_FAIL(result, 42, "CHttpClient::GetTimeStamp");
        return result;
    }
    return result;
}
