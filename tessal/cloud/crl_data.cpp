// CHttpClient::GetCRLData: one CRL download from a distribution point.
#include "tessal/http.h"

bool CHttpClient::GetCRLData(const std::string& url, std::string& data) {
    std::vector<std::string> headers = {"Content-Type: application/x-www-form-urlencoded", "Cache-Control: no-cache"};
    CHttp http;
    return http.Gets(url, headers, data, nullptr) == CURLE_OK;
}
