#include "cloud/issuance_messages.h"

#include <curl/curl.h>
#include <rapidjson/reader.h>

#include <new>
#include <set>

#include "kit/json_parse.h"

namespace cloud {
namespace {

// Remembers the most recent member name and keeps the string values of the wanted names.
class AnswerHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, AnswerHandler> {
public:
    explicit AnswerHandler(std::map<std::string, std::string>& values) : m_values(values) {}

    bool Key(const char* text, rapidjson::SizeType length, bool) {
        m_name.assign(text, length);
        return true;
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        // Never destroyed: an export may still read answers while the process exits.
        static const std::set<std::string>& kStored = *new std::set<std::string>{
            "result", "message", "digest", "key", "keys", "pubCert", "encCert", "encKey"};
        if (kStored.count(m_name)) m_values[m_name].assign(text, length);
        return true;
    }

private:
    std::map<std::string, std::string>& m_values;
    std::string m_name;
};

}  // namespace

JsonBody::JsonBody() : m_writer(m_buffer) { m_writer.StartObject(); }

JsonBody& JsonBody::Add(const char* name, const std::string& value) {
    m_writer.Key(name);
    m_writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    return *this;
}

JsonBody& JsonBody::AddIfPresent(const char* name, const std::string& value) {
    return value.empty() ? *this : Add(name, value);
}

JsonBody& JsonBody::AddCounts(const char* name, const std::map<std::string, long>& counts) {
    m_writer.Key(name);
    m_writer.StartObject();
    for (const auto& entry : counts) {
        m_writer.Key(entry.first.data(), static_cast<rapidjson::SizeType>(entry.first.size()));
        m_writer.Int64(entry.second);
    }
    m_writer.EndObject();
    return *this;
}

std::string JsonBody::Text() {
    if (!m_writer.IsComplete()) m_writer.EndObject();
    return std::string(m_buffer.GetString(), m_buffer.GetSize());
}

IssuanceAnswer::IssuanceAnswer(const std::string& body) {
    AnswerHandler handler(m_values);
    kit::ParseJsonEvents(body, handler);  // a syntax error keeps what was stored before it
}

std::string IssuanceAnswer::Get(const std::string& name) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? std::string() : it->second;
}

std::string PercentEncode(const std::string& value) {
    if (value.empty()) return value;
    char* escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
    if (escaped == nullptr) throw std::bad_alloc();
    std::string out(escaped);
    curl_free(escaped);
    return out;
}

}  // namespace cloud
