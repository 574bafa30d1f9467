// Reading JSON answers of the cloud services without trusting their shape.
#pragma once

#include <rapidjson/document.h>

#include <string>

namespace cloud {

// Parses `text` into `doc` without recursion, refusing values nested deeper than `maxDepth`
// arrays and objects (a deep document would exhaust the stack when it is freed). False on a
// syntax error or too deep a nesting.
bool ParseJsonAnswer(const std::string& text, rapidjson::Document& doc, unsigned maxDepth = 64);

// The member `name` of `value`, or null when `value` is not an object or has no such member.
const rapidjson::Value* FindMember(const rapidjson::Value& value, const char* name);

// True only when the member is the JSON literal true.
bool IsTrueMember(const rapidjson::Value& value, const char* name);

// The member's text when it is a string; false (and `out` untouched) for any other type.
bool StringMember(const rapidjson::Value& value, const char* name, std::string& out);

}  // namespace cloud
