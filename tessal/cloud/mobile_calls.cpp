// Signing sessions at the mobile seal service: the document's digest is signed on the user's phone.
#include <algorithm>
#include <chrono>
#include <thread>

#include "api/log.h"
#include "cloud/call_deadline.h"
#include "cloud/cloud_hosts.h"
#include "cloud/issuance_messages.h"
#include "cloud/mobile_answers.h"
#include "tessal/http.h"

namespace {

const int kMaxSignResultPolls = 21;
const std::chrono::milliseconds kPollPause(300);
// The whole polling ends within this limit: the 21 pauses of 300 ms, and room for slow answers.
const std::chrono::milliseconds kSignResultLimit(30000);

// One request to the service; the headers are signed afresh, so every request has its own nonce.
bool PostToMobile(const std::string& path, const std::string& body, std::string& response) {
    CHttp http;
    return http.Posts(CHttpClient::m_mobileUrl + path, CHttpClient::getMobileHeadInfo(), body, response, nullptr) == 0;
}

std::string SignSidBody(const std::string& signSid) { return cloud::JsonBody().Add("signSid", signSid).Text(); }

void PauseBeforeNextPoll(const cloud::CallDeadline& limit) {
    std::this_thread::sleep_until(
        std::min(std::chrono::steady_clock::now() + kPollPause, limit.End()));
}

}  // namespace

void CHttpClient::setMobileUrl(const std::string& env) {
    m_mobileUrl = cloud::MobileSealUrl(env);
    if (&env != &m_url) m_url = env;
}

bool CHttpClient::generateSignsid(const std::string& bizId, std::string& response, const std::string& title,
                                  const std::string& signName, const std::string& docId, const long& customerId,
                                  const std::string& userName, const std::string& callbackUrl,
                                  const std::string& previewUrl, const std::string& signIp) {
    std::string body = cloud::JsonBody()
                           .Add("bizId", bizId)
                           .Add("title", title)
                           .Add("signName", signName)
                           .Add("docId", docId)
                           .Add("customerId", std::to_string(customerId))
                           .Add("userName", userName)
                           .Add("callbackUrl", callbackUrl)
                           .Add("previewUrl", previewUrl)
                           .Add("signIp", signIp)
                           .Text();
    return PostToMobile("/generate-signSid", body, response);
}

bool CHttpClient::uploadDigest(const std::string& signSid, const std::string& signDigest,
                               const std::map<std::string, long>& sealCountMap, bool borderSign, std::string& result,
                               const std::string& fileName) {
    std::string body = cloud::JsonBody()
                           .Add("signSid", signSid)
                           .Add("signDigest", signDigest)
                           .Add("fileName", fileName)
                           .AddCounts("sealCountMap", sealCountMap)
                           .Add("borderSign", borderSign ? "true" : "false")
                           .Text();
    std::string answer;
    if (!PostToMobile("/upload-digest", body, answer)) return false;
    return cloud::UploadedDigestResult(answer, result);
}

bool CHttpClient::getSignStatus(const std::string& signSid, std::string& response) {
    return PostToMobile("/get/status", SignSidBody(signSid), response);
}

bool CHttpClient::getSignResult(const std::string& signSid, const std::string& signActionId,
                                std::string& p7SignResult) {
    std::string body = cloud::JsonBody().Add("signSid", signSid).Add("signActionId", signActionId).Text();
    std::string answer;
    cloud::CallDeadline limit(
        cloud::LimitFromEnvironment("TESSAL_SIGN_RESULT_LIMIT_MS", kSignResultLimit));
    for (int attempt = 0; attempt < kMaxSignResultPolls; ++attempt) {
        answer.clear();
        // Each poll ends by the limit; a signature it brought counts.
        if (PostToMobile("/get-signResult", body, answer) &&
            cloud::SignatureArrived(answer, p7SignResult))
            return true;
        if (cloud::CallDeadlinePassed()) {
            TLOG_DEBUG("mobile getSignResult: no signature within the polling time limit");
            break;
        }
        PauseBeforeNextPoll(limit);
    }
    TLOG_DEBUG("mobile getSignResult error");
    TLOG_DEBUG(answer);
    return false;
}

bool CHttpClient::finishSign(const std::string& signSid, std::string& response) {
    return PostToMobile("/finish-sign", SignSidBody(signSid), response);
}

bool CHttpClient::getSealslist(const std::string& signSid, std::string& response) {
    return PostToMobile("/get-sealList", SignSidBody(signSid), response);
}
