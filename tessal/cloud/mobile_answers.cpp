#include "cloud/mobile_answers.h"

#include "cloud/json_answer.h"

namespace cloud {
namespace {

using rapidjson::Value;

// A parsed answer; a document that cannot be read counts as one without members.
rapidjson::Document ParsedAnswer(const std::string& answer) {
    rapidjson::Document doc;
    if (!kit::ParseJson(answer, doc)) doc.SetNull();
    return doc;
}

// "code" is an error only when it is a number other than 0; any other type counts as absent.
bool ReportsError(const Value& answer) {
    const Value* code = FindMember(answer, "code");
    return code && code->IsNumber() && code->GetDouble() != 0.0;
}

}  // namespace

bool SignatureArrived(const std::string& answer, std::string& p7SignResult) {
    if (answer.empty()) return false;
    rapidjson::Document doc = ParsedAnswer(answer);
    std::string message;
    if (!StringMember(doc, "message", message) || message != "SUCCESS") return false;
    if (const Value* result = FindMember(doc, "result")) StringMember(*result, "p7SignResult", p7SignResult);
    return p7SignResult != "null";
}

bool UploadedDigestResult(const std::string& answer, std::string& result) {
    rapidjson::Document doc = ParsedAnswer(answer);
    if (ReportsError(doc)) return false;
    return StringMember(doc, "result", result);
}

}  // namespace cloud
