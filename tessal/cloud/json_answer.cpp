#include "cloud/json_answer.h"

namespace cloud {

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
