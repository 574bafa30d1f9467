// Parsing JSON that came from outside this process: no recursion, and a cap on nesting.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <string>

namespace kit {

// Deep enough for every document the kit reads or writes.
constexpr unsigned kJsonMaxDepth = 64;

// Passes a reader's events on to `Target`, refusing to open arrays and objects beyond the limit.
template <typename Target>
class DepthLimitedHandler {
public:
    DepthLimitedHandler(Target& target, unsigned maxDepth) : m_target(target), m_maxDepth(maxDepth) {}

    bool Null() { return m_target.Null(); }
    bool Bool(bool b) { return m_target.Bool(b); }
    bool Int(int i) { return m_target.Int(i); }
    bool Uint(unsigned u) { return m_target.Uint(u); }
    bool Int64(int64_t i) { return m_target.Int64(i); }
    bool Uint64(uint64_t u) { return m_target.Uint64(u); }
    bool Double(double d) { return m_target.Double(d); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) { return m_target.RawNumber(s, n, copy); }
    bool String(const char* s, rapidjson::SizeType n, bool copy) { return m_target.String(s, n, copy); }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return m_target.Key(s, n, copy); }
    bool StartObject() { return Open() && m_target.StartObject(); }
    bool EndObject(rapidjson::SizeType members) { return Close() && m_target.EndObject(members); }
    bool StartArray() { return Open() && m_target.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return Close() && m_target.EndArray(elements); }

private:
    bool Open() { return ++m_depth <= m_maxDepth; }
    bool Close() {
        --m_depth;
        return true;
    }
    Target& m_target;
    unsigned m_maxDepth;
    unsigned m_depth = 0;
};

// Feeds the events of `text` to `handler` without recursion.
// False on a syntax error, a nesting deeper than `maxDepth`, or when the handler stops.
template <typename Handler>
bool ParseJsonEvents(const std::string& text, Handler& handler, unsigned maxDepth = kJsonMaxDepth) {
    DepthLimitedHandler<Handler> limited(handler, maxDepth);
    rapidjson::MemoryStream bytes(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(bytes);
    rapidjson::Reader reader;
    return !reader.Parse<rapidjson::kParseIterativeFlag>(stream, limited).IsError();
}

// Parses `text` into `doc` as ParseJsonEvents does; `doc` is null when it returns false.
bool ParseJson(const std::string& text, rapidjson::Document& doc, unsigned maxDepth = kJsonMaxDepth);

}  // namespace kit
