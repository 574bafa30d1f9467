#include "cloud/json_answer.h"

#include <rapidjson/reader.h>

namespace cloud {
namespace {

// Passes the parser's events to the document, refusing to open containers beyond the limit.
class DepthLimitedHandler {
public:
    DepthLimitedHandler(rapidjson::Document& doc, unsigned maxDepth) : m_doc(doc), m_maxDepth(maxDepth) {}

    bool Null() { return m_doc.Null(); }
    bool Bool(bool b) { return m_doc.Bool(b); }
    bool Int(int i) { return m_doc.Int(i); }
    bool Uint(unsigned u) { return m_doc.Uint(u); }
    bool Int64(int64_t i) { return m_doc.Int64(i); }
    bool Uint64(uint64_t u) { return m_doc.Uint64(u); }
    bool Double(double d) { return m_doc.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) { return m_doc.RawNumber(s, n, copy); }
    bool String(const char* s, rapidjson::SizeType n, bool copy) { return m_doc.String(s, n, copy); }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return m_doc.Key(s, n, copy); }
    bool StartObject() { return Open() && m_doc.StartObject(); }
    bool EndObject(rapidjson::SizeType members) { return Close() && m_doc.EndObject(members); }
    bool StartArray() { return Open() && m_doc.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return Close() && m_doc.EndArray(elements); }

private:
    bool Open() { return ++m_depth <= m_maxDepth; }
    bool Close() {
        --m_depth;
        return true;
    }
    rapidjson::Document& m_doc;
    unsigned m_maxDepth;
    unsigned m_depth = 0;
};

}  // namespace

bool ParseJsonAnswer(const std::string& text, rapidjson::Document& doc, unsigned maxDepth) {
    bool parsed = false;
    auto generator = [&](rapidjson::Document& target) {
        DepthLimitedHandler handler(target, maxDepth);
        rapidjson::StringStream stream(text.c_str());
        rapidjson::Reader reader;
        parsed = !reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler).IsError();
        return parsed;
    };
    doc.SetNull();
    doc.Populate(generator);
    return parsed;
}

const rapidjson::Value* FindMember(const rapidjson::Value& value, const char* name) {
    if (!value.IsObject()) return nullptr;
    auto it = value.FindMember(name);
    return it == value.MemberEnd() ? nullptr : &it->value;
}

bool IsTrueMember(const rapidjson::Value& value, const char* name) {
    const rapidjson::Value* member = FindMember(value, name);
    return member && member->IsTrue();
}

bool StringMember(const rapidjson::Value& value, const char* name, std::string& out) {
    const rapidjson::Value* member = FindMember(value, name);
    if (!member || !member->IsString()) return false;
    out.assign(member->GetString(), member->GetStringLength());
    return true;
}

}  // namespace cloud
