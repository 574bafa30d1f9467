// The cloud gateway's certificate status check.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/log.h"
#include "cloud/cloud_hosts.h"
#include "cloud/json_answer.h"
#include "tessal/http.h"

namespace {

using rapidjson::Value;

void WriteString(rapidjson::Writer<rapidjson::StringBuffer>& w, const std::string& text) {
    w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string StatusRequestBody(const std::string& serialNo, const std::string& certBase64, const std::string& algorithm) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("validitySource");
    w.String("UKEY");
    w.Key("validityRequestList");
    w.StartArray();
    w.StartObject();
    w.Key("serialNo");
    WriteString(w, serialNo);
    w.Key("algorithm");
    WriteString(w, algorithm);
    w.Key("certBase64");
    WriteString(w, certBase64);
    w.Key("verifyTypeList");
    w.StartArray();
    for (const char* type : {"IS_ZYK_ISSUE", "CHECK_ROOT", "CHECK_OCSP"}) w.String(type);
    w.EndArray();
    w.EndObject();
    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

// A "code" counts as success only when it is missing or the number 0; any other type is an error.
bool CodeIsSuccess(const Value& answer) {
    const Value* code = cloud::FindMember(answer, "code");
    return !code || (code->IsNumber() && code->GetDouble() == 0.0);
}

// Sends the status request and reads the answer into `answer`. False, after logging why, when
// the request fails, the answer is unreadable or the service reports an error.
bool QueryCertStatus(const std::string& serialNo, const std::string& certBase64, const std::string& algorithm,
                     rapidjson::Document& answer) {
    std::string url = cloud::GatewayPrefix() + CHttpClient::m_url + "/cert/ukey/app/check/cert/validity";
    std::vector<std::string> headers = CHttpClient::getGWHeadInfo();
    std::string response;
    CHttp http;
    if (http.Posts(url, headers, StatusRequestBody(serialNo, certBase64, algorithm), response, nullptr) != 0) {
        TLOG_DEBUG("/cert/validity Posts Failed");
        return false;
    }
    TLOG_DEBUG("/cert/validity response:" << response);
    if (!kit::ParseJson(response, answer) || !answer.IsObject()) {
        TLOG_DEBUG("/cert/validity Parse Failed");
        return false;
    }
    if (!CodeIsSuccess(answer)) {
        std::string message;
        cloud::StringMember(answer, "message", message);
        TLOG_DEBUG("/cert/validity error msg: " << message);
        return false;
    }
    return true;
}

// The "result" array, or null when it is missing or not an array.
const Value* ResultList(const Value& answer) {
    const Value* result = cloud::FindMember(answer, "result");
    return result && result->IsArray() ? result : nullptr;
}

}  // namespace

int CHttpClient::CheckCertValidity(const std::string& serialNo, const std::string& certBase64,
                                   const std::string& algorithm) {
    rapidjson::Document answer;
    if (!QueryCertStatus(serialNo, certBase64, algorithm, answer)) return 0;
    std::string status = "UNKNOWN";
    if (const Value* result = ResultList(answer)) {
        for (const Value& element : result->GetArray()) {
            if (!cloud::IsTrueMember(element, "zykChannelIssue")) {
                if (!cloud::IsTrueMember(element, "trustCaIssue")) return 1;
                if (!cloud::IsTrueMember(element, "existRootCert")) return 0;
            }
            if (cloud::StringMember(element, "certCurrentStatus", status)) break;
        }
    }
    if (status == "NORMAL") return 2;
    if (status == "UNKNOWN") return 3;
    if (status == "REVOKE") return 4;
    return 0;
}

std::string CHttpClient::GetCertStatusMsg(const std::string& serialNo, const std::string& certBase64,
                                          const std::string& algorithm) {
    rapidjson::Document answer;
    if (!QueryCertStatus(serialNo, certBase64, algorithm, answer)) return "UNKNOWN";
    const Value* result = ResultList(answer);
    std::string detail;
    if (result && !result->Empty() && cloud::StringMember((*result)[0], "detailMessage", detail)) return detail;
    return "UNKNOWN";
}
