// Request bodies and answers of the certificate issuance service.
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <map>
#include <string>

namespace cloud {

// A compact JSON object of string members, written in the order they are added. Values are
// copied byte for byte; quotation marks, backslashes and control characters are escaped.
class JsonBody {
public:
    JsonBody();
    JsonBody& Add(const char* name, const std::string& value);
    // Leaves the member out when `value` is empty.
    JsonBody& AddIfPresent(const char* name, const std::string& value);
    // An object member of `counts`, in the map's (byte-wise ascending) key order; `{}` when empty.
    JsonBody& AddCounts(const char* name, const std::map<std::string, long>& counts);
    // The finished object.
    std::string Text();

private:
    rapidjson::StringBuffer m_buffer;
    rapidjson::Writer<rapidjson::StringBuffer> m_writer;
};

// What an answer said, read as a stream of events: the last string value stored under each of
// "result", "message", "digest", "key", "keys", "pubCert", "encCert", "encKey", at any depth.
// A syntax error, or a nesting deeper than kit::kJsonMaxDepth, ends the reading; what was read
// before it counts.
class IssuanceAnswer {
public:
    explicit IssuanceAnswer(const std::string& body);
    // The stored value, or "" when none arrived.
    std::string Get(const std::string& name) const;
    // The service accepted the request: "message" is exactly "SUCCESS".
    bool Accepted() const { return Get("message") == "SUCCESS"; }

private:
    std::map<std::string, std::string> m_values;
};

// Every byte outside letters, digits and "-", "_", ".", "~" as "%XX".
std::string PercentEncode(const std::string& value);

}  // namespace cloud
