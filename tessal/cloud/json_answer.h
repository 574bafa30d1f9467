// Reading JSON answers of the cloud services without trusting their shape (parse them with
// kit::ParseJson).
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "kit/json_parse.h"

namespace cloud {

// The member `name` of `value`, or null when `value` is not an object or has no such member.
const rapidjson::Value* FindMember(const rapidjson::Value& value, const char* name);

// True only when the member is the JSON literal true.
bool IsTrueMember(const rapidjson::Value& value, const char* name);

// The member's text when it is a string; false (and `out` untouched) for any other type.
bool StringMember(const rapidjson::Value& value, const char* name, std::string& out);

}  // namespace cloud
