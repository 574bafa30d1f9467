// The cloud gateway's certificate status check.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/log.h"
#include "cloud/cert_status_answer.h"
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

// Sends the status request; false, after logging why, when it cannot be sent.
bool PostCertStatus(const std::string& serialNo, const std::string& certBase64, const std::string& algorithm,
                    std::string& response) {
    std::string url = cloud::GatewayPrefix() + CHttpClient::m_url + "/cert/ukey/app/check/cert/validity";
    std::vector<std::string> headers = CHttpClient::getGWHeadInfo();
    CHttp http;
    if (http.Posts(url, headers, StatusRequestBody(serialNo, certBase64, algorithm), response, nullptr) != 0) {
        TLOG_DEBUG("/cert/validity Posts Failed");
        return false;
    }
    TLOG_DEBUG("/cert/validity response:" << response);
    return true;
}

// Reads the answer into `answer`; false, after logging why, when it is unreadable or the
// service reports an error.
bool ReadCertStatusAnswer(const std::string& response, rapidjson::Document& answer) {
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

namespace cloud {

int CertValidityFromAnswer(const std::string& response) {
    rapidjson::Document answer;
    if (!ReadCertStatusAnswer(response, answer)) return 0;
    std::string status = "UNKNOWN";
    if (const Value* result = ResultList(answer)) {
        for (const Value& element : result->GetArray()) {
            if (!IsTrueMember(element, "zykChannelIssue")) {
                if (!IsTrueMember(element, "trustCaIssue")) return 1;
                if (!IsTrueMember(element, "existRootCert")) return 0;
            }
            if (StringMember(element, "certCurrentStatus", status)) break;
        }
    }
    if (status == "NORMAL") return 2;
    if (status == "UNKNOWN") return 3;
    if (status == "REVOKE") return 4;
    return 0;
}

std::string CertStatusMessageFromAnswer(const std::string& response) {
    rapidjson::Document answer;
    if (!ReadCertStatusAnswer(response, answer)) return "UNKNOWN";
    const Value* result = ResultList(answer);
    std::string detail;
    if (result && !result->Empty() && StringMember((*result)[0], "detailMessage", detail)) return detail;
    return "UNKNOWN";
}

}  // namespace cloud

int CHttpClient::CheckCertValidity(const std::string& serialNo, const std::string& certBase64,
                                   const std::string& algorithm) {
    std::string response;
    if (!PostCertStatus(serialNo, certBase64, algorithm, response)) return 0;
    return cloud::CertValidityFromAnswer(response);
}

std::string CHttpClient::GetCertStatusMsg(const std::string& serialNo, const std::string& certBase64,
                                          const std::string& algorithm) {
    std::string response;
    if (!PostCertStatus(serialNo, certBase64, algorithm, response)) return "UNKNOWN";
    return cloud::CertStatusMessageFromAnswer(response);
}
