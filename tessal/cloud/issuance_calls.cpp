// CHttpClient's certificate application and download calls to the issuance service.
#include <memory>

#include "api/failure.h"
#include "cloud/cloud_hosts.h"
#include "cloud/issuance_messages.h"
#include "tessal/http.h"

namespace {

const int kSendFailed = 34;
const int kApplicationFailed = 35;
const int kDownloadFailed = 36;

std::string IssuanceUrl(const std::string& path) {
    return cloud::IssuancePrefix() + CHttpClient::m_url + path;
}
std::string GatewayUrl(const std::string& path) {
    return cloud::GatewayPrefix() + CHttpClient::m_url + path;
}

// One POST of a JSON body; fails with 34 when it cannot be sent and with `refusedCode` when the
// service does not answer "SUCCESS". `answer` receives what the service said.
CResult Exchange(const std::string& url, const std::string& body, int refusedCode,
                 const char* location, std::unique_ptr<cloud::IssuanceAnswer>& answer) {
    CResult result;
    std::string response;
    CHttp http;
    if (http.Posts(url, {"Content-Type: application/json"}, body, response, nullptr) != 0) {
        TESSAL_FAIL(result, kSendFailed, location);
        return result;
    }
    answer.reset(new cloud::IssuanceAnswer(response));
    if (!answer->Accepted()) TESSAL_FAIL(result, refusedCode, location);
    return result;
}

CResult Apply(const std::string& url, const std::string& body, const char* location) {
    std::unique_ptr<cloud::IssuanceAnswer> answer;
    return Exchange(url, body, kApplicationFailed, location, answer);
}

// Downloads the certificate the answer carries as "result".
CResult DownloadResult(const std::string& url, const std::string& body, const char* location,
                       std::string& cert) {
    std::unique_ptr<cloud::IssuanceAnswer> answer;
    CResult result = Exchange(url, body, kDownloadFailed, location, answer);
    if (result == 0) cert = answer->Get("result");
    return result;
}

// The members that follow the fixed part of a direct application, each only when given.
cloud::JsonBody& AddOptionalMembers(cloud::JsonBody& body, const std::string& orderId,
                                    const std::string& caType, const std::string& platformName,
                                    const std::string& customerId) {
    return body.AddIfPresent("orderId", orderId)
        .AddIfPresent("caType", caType)
        .AddIfPresent("platformName", platformName)
        .AddIfPresent("customerId", customerId);
}

}  // namespace

CResult CHttpClient::RequestCert(std::string& p10, std::string deviceId, std::string name,
                                 std::string docID, std::string telephone, std::string email,
                                 std::string validity, std::string orderId, std::string caType,
                                 std::string platformName, std::string customerId) {
    cloud::JsonBody body;
    body.Add("name", name)
        .Add("tenantType", "CORPORATE")
        .Add("telephone", telephone)
        .Add("p10", p10)
        .Add("deviceId", deviceId)
        .Add("docID", docID)
        .Add("email", email)
        .Add("validity", validity);
    AddOptionalMembers(body, orderId, caType, platformName, customerId);
    return Apply(IssuanceUrl("/cert/ukey/apply/signature"), body.Text(),
                 "CHttpClient::RequestCert");
}

CResult CHttpClient::PersonalRequestCert(std::string& p10, std::string deviceId, std::string name,
                                         std::string docID, std::string telephone,
                                         std::string /*email: not sent*/, std::string validity,
                                         std::string orderId, std::string caType,
                                         std::string platformName, std::string customerId) {
    cloud::JsonBody body;
    body.Add("tenantType", "PERSONAL")
        .Add("name", name)
        .Add("telephone", telephone)
        .Add("docID", docID)
        .Add("p10", p10)
        .Add("deviceId", deviceId)
        .Add("validity", validity);
    AddOptionalMembers(body, orderId, caType, platformName, customerId);
    return Apply(IssuanceUrl("/cert/ukey/apply/signature"), body.Text(),
                 "CHttpClient::PersonalRequestCert");
}

CResult CHttpClient::RequestCertOnGW(std::string& p10, std::string deviceId, std::string& name,
                                     std::string& docId, std::string& tenantType,
                                     std::string& customerId, std::string& caType,
                                     std::string& validity, std::string& orderId,
                                     std::string& contact, std::string& ukeyOrderCertId) {
    cloud::JsonBody body;
    body.Add("deviceId", deviceId)
        .Add("docId", docId)
        .Add("name", name)
        .Add("tenantType", tenantType)
        .Add("customerId", customerId)
        .Add("caType", caType)
        .Add("validity", validity)
        .Add("p10", p10)
        .Add("orderId", orderId)
        .Add("contact", contact)
        .Add("ukeyOrderCertId", ukeyOrderCertId);
    return Apply(GatewayUrl("/common/ukey/applyukeycert"), body.Text(),
                 "CHttpClient::RequestCertOnGW");
}

CResult CHttpClient::RequestDoubleCert(std::string& p10, std::string deviceId,
                                       std::string& orderId) {
    cloud::JsonBody body;
    body.Add("deviceId", deviceId).Add("p10", p10).Add("orderId", orderId);
    return Apply(IssuanceUrl("/private/ukey/order/applycert"), body.Text(),
                 "CHttpClient::RequestDoubleCert");
}

CResult CHttpClient::DnowLoadCert(std::string& cert, std::string deviceId, std::string orderId,
                                  std::string sealId) {
    // Query values are percent-encoded, so ids holding "&", "#", "=" or blanks stay one value.
    std::string query = "?deviceId=" + cloud::PercentEncode(deviceId);
    if (!orderId.empty())
        query +=
            "&orderId=" + cloud::PercentEncode(orderId) + "&sealId=" + cloud::PercentEncode(sealId);
    return DownloadResult(IssuanceUrl("/cert/ukey/download" + query), std::string(),
                          "CHttpClient::DnowLoadCert", cert);
}

CResult CHttpClient::DnowLoadCertOnGW(std::string deviceId, std::string orderId,
                                      std::string& contact, std::string& ukeyOrderCertId,
                                      std::string& cert) {
    cloud::JsonBody body;
    body.Add("orderId", orderId)
        .Add("contact", contact)
        .Add("ukeyOrderCertId", ukeyOrderCertId)
        .Add("deviceId", deviceId);
    return DownloadResult(GatewayUrl("/common/ukey/downloadukeycert"), body.Text(),
                          "CHttpClient::DnowLoadCertOnGW", cert);
}

CResult CHttpClient::DnowLoadDoubleCert(std::string deviceId, std::string& pubCert,
                                        std::string& encCert, std::string& encKey) {
    const char* location = "CHttpClient::DnowLoadDoubleCert";
    cloud::JsonBody body;
    body.Add("deviceId", deviceId);
    std::unique_ptr<cloud::IssuanceAnswer> answer;
    CResult result = Exchange(IssuanceUrl("/private/ukey/order/download"), body.Text(),
                              kDownloadFailed, location, answer);
    if (result != 0) return result;
    // The three values are handed out even when one of them is missing.
    pubCert = answer->Get("pubCert");
    encCert = answer->Get("encCert");
    encKey = answer->Get("encKey");
    if (pubCert.empty() || encCert.empty() || encKey.empty())
        TESSAL_FAIL(result, kDownloadFailed, location);
    return result;
}
