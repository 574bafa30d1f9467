#include "core/seal_list.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

#include "core/fs_util.h"
#include "kit/json_parse.h"
#include "platform/files.h"

namespace softkey {
namespace {

std::string SealListPath(const Store& store, const std::string& serial) {
    if (!ValidSerial(serial)) throw std::runtime_error("invalid serial number \"" + serial + "\"");
    return store.Root() + "/seals/" + serial + ".json";
}

std::string Member(const rapidjson::Value& v, const char* name) {
    if (!v.IsObject() || !v.HasMember(name) || !v[name].IsString())
        throw std::runtime_error("seal list is damaged");
    return std::string(v[name].GetString(), v[name].GetStringLength());
}

}  // namespace

const char* SealFormName(SealForm form) { return form == SealForm::Oes ? "oes" : "ggzy"; }

SealForm ParseSealForm(const std::string& word) {
    if (word == "ggzy") return SealForm::Ggzy;
    if (word == "oes") return SealForm::Oes;
    throw std::invalid_argument("seal form must be ggzy or oes, not \"" + word + "\"");
}

std::vector<SealEntry> LoadSeals(const Store& store, const std::string& serial) {
    std::vector<SealEntry> seals;
    std::string text;
    if (!ReadWholeFile(SealListPath(store, serial), text)) return seals;
    rapidjson::Document doc;
    if (!kit::ParseJson(text, doc) || !doc.IsArray())
        throw std::runtime_error("seal list of " + serial + " is damaged");
    for (const auto& v : doc.GetArray()) {
        SealEntry e;
        e.name = Member(v, "name");
        e.image = FromBase64(Member(v, "image"));
        e.time = Member(v, "time");
        e.form = Member(v, "form") == "oes" ? SealForm::Oes : SealForm::Ggzy;
        seals.push_back(e);
    }
    return seals;
}

void SaveSeals(const Store& store, const std::string& serial, const std::vector<SealEntry>& seals) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    auto key = [&w](const char* name, const std::string& value) {
        w.Key(name);
        w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    };
    w.StartArray();
    for (const SealEntry& e : seals) {
        w.StartObject();
        key("name", e.name);
        key("image", ToBase64(e.image));
        key("time", e.time);
        key("form", SealFormName(e.form));
        w.EndObject();
    }
    w.EndArray();
    MakeDirs(store.Root() + "/seals");
    WriteFileAtomic(SealListPath(store, serial), std::string(buffer.GetString(), buffer.GetSize()));
}

void RemoveSeals(const Store& store, const std::string& serial) {
    platform::RemoveFile(SealListPath(store, serial));
}

}  // namespace softkey
