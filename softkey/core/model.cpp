// Tokens in memory and their JSON form on disk.
#include "core/model.h"

#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

#include "core/fs_util.h"
#include "kit/json_parse.h"

namespace softkey {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;
using Value = rapidjson::Value;

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[32];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr);
    return HexText(digest, len);
}

void Key(Writer& w, const char* name, const std::string& value) {
    w.Key(name);
    w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void WritePin(Writer& w, const char* name, const Pin& p) {
    w.Key(name);
    w.StartObject();
    Key(w, "salt", p.salt);
    Key(w, "hash", p.hash);
    w.Key("max");
    w.Uint(p.maxRetry);
    w.Key("remain");
    w.Uint(p.remain);
    w.Key("default");
    w.Bool(p.isDefault);
    w.EndObject();
}

void WriteKeyPair(Writer& w, const char* name, const std::optional<KeyPair>& kp) {
    if (!kp) return;
    w.Key(name);
    w.StartObject();
    Key(w, "alg", kp->alg == KeyAlg::Rsa ? "rsa" : "sm2");
    w.Key("bits");
    w.Int(kp->bits);
    Key(w, "public", ToBase64(kp->publicKey));
    Key(w, "private", ToBase64(kp->sealedPrivate));
    w.EndObject();
}

void WriteDevAuth(Writer& w, const DevAuth& d) {
    w.Key("devAuth");
    w.StartObject();
    Key(w, "key", ToBase64(d.sealedKey));
    w.Key("max");
    w.Uint(d.maxRetry);
    w.Key("remain");
    w.Uint(d.remain);
    w.Key("required");
    w.Bool(d.required);
    w.EndObject();
}

const Value& Member(const Value& obj, const char* name) {
    if (!obj.IsObject()) throw std::runtime_error("token file: object expected");
    auto it = obj.FindMember(name);
    if (it == obj.MemberEnd()) throw std::runtime_error(std::string("token file: missing ") + name);
    return it->value;
}

std::string Str(const Value& obj, const char* name) {
    const Value& v = Member(obj, name);
    if (!v.IsString()) throw std::runtime_error(std::string("token file: text expected for ") + name);
    return std::string(v.GetString(), v.GetStringLength());
}

uint32_t Uint(const Value& obj, const char* name) {
    const Value& v = Member(obj, name);
    if (!v.IsUint()) throw std::runtime_error(std::string("token file: number expected for ") + name);
    return v.GetUint();
}

const Value& Array(const Value& obj, const char* name) {
    const Value& v = Member(obj, name);
    if (!v.IsArray()) throw std::runtime_error(std::string("token file: list expected for ") + name);
    return v;
}

Pin ReadPin(const Value& v) {
    Pin p;
    p.salt = Str(v, "salt");
    p.hash = Str(v, "hash");
    p.maxRetry = Uint(v, "max");
    p.remain = Uint(v, "remain");
    const Value& d = Member(v, "default");
    if (!d.IsBool()) throw std::runtime_error("token file: flag expected");
    p.isDefault = d.GetBool();
    return p;
}

bool Flag(const Value& obj, const char* name) {
    const Value& v = Member(obj, name);
    if (!v.IsBool()) throw std::runtime_error("token file: flag expected");
    return v.GetBool();
}

std::optional<DevAuth> ReadDevAuth(const Value& token) {
    auto it = token.FindMember("devAuth");
    if (it == token.MemberEnd()) return std::nullopt;
    DevAuth d;
    d.sealedKey = FromBase64(Str(it->value, "key"));
    d.maxRetry = Uint(it->value, "max");
    d.remain = Uint(it->value, "remain");
    d.required = Flag(it->value, "required");
    if (d.maxRetry == 0 || d.remain > d.maxRetry)
        throw std::runtime_error("token file: device authentication tries out of range");
    return d;
}

std::optional<KeyPair> ReadKeyPair(const Value& container, const char* name) {
    auto it = container.FindMember(name);
    if (it == container.MemberEnd()) return std::nullopt;
    KeyPair kp;
    std::string alg = Str(it->value, "alg");
    if (alg != "rsa" && alg != "sm2") throw std::runtime_error("token file: unknown key algorithm");
    kp.alg = alg == "rsa" ? KeyAlg::Rsa : KeyAlg::Sm2;
    kp.bits = static_cast<int>(Uint(it->value, "bits"));
    kp.publicKey = FromBase64(Str(it->value, "public"));
    kp.sealedPrivate = FromBase64(Str(it->value, "private"));
    return kp;
}

}  // namespace

std::string ToBase64(const Bytes& bytes) {
    if (bytes.empty()) return std::string();
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), bytes.data(),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes FromBase64(const std::string& text) {
    if (text.empty()) return Bytes();
    if (text.size() % 4 != 0) throw std::runtime_error("bad base64 in token file");
    Bytes out(3 * text.size() / 4);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) throw std::runtime_error("bad base64 in token file");
    size_t pad = 0;
    if (text[text.size() - 1] == '=') ++pad;
    if (text[text.size() - 2] == '=') ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

template <typename Item>
static Item* FindByName(std::vector<Item>& items, const std::string& wanted) {
    for (Item& item : items)
        if (item.name == wanted) return &item;
    return nullptr;
}

Container* Application::FindContainer(const std::string& wanted) {
    return FindByName(containers, wanted);
}
const Container* Application::FindContainer(const std::string& wanted) const {
    return const_cast<Application*>(this)->FindContainer(wanted);
}
FileEntry* Application::FindFile(const std::string& wanted) { return FindByName(files, wanted); }
const FileEntry* Application::FindFile(const std::string& wanted) const {
    return const_cast<Application*>(this)->FindFile(wanted);
}
Application* Token::FindApp(const std::string& wanted) { return FindByName(apps, wanted); }
const Application* Token::FindApp(const std::string& wanted) const {
    return const_cast<Token*>(this)->FindApp(wanted);
}

Pin MakePin(const std::string& pin, uint32_t retries) {
    Pin p;
    p.maxRetry = retries;
    p.remain = retries;
    SetPin(p, pin);
    p.isDefault = true;
    return p;
}

void SetPin(Pin& p, const std::string& pin) {
    p.salt = RandomHex(8);
    p.hash = Sha256Hex(p.salt + pin);
    p.remain = p.maxRetry;
    p.isDefault = false;
}

bool PinMatches(const Pin& p, const std::string& pin) { return Sha256Hex(p.salt + pin) == p.hash; }

// Token files of format 1 carry no tag; format 2 files end with one.
constexpr unsigned kTaggedFormat = 2;

static std::string WriteToken(const Token& t, const std::string* tag) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("format");
    w.Uint(kTaggedFormat);
    Key(w, "serial", t.serial);
    Key(w, "label", t.label);
    w.Key("vid");
    w.Uint(t.vid);
    w.Key("pid");
    w.Uint(t.pid);
    w.Key("bcdDevice");
    w.Uint(t.bcdDevice);
    Key(w, "manufacturer", t.manufacturer);
    Key(w, "product", t.product);
    w.Key("drivers");
    w.StartArray();
    for (const std::string& d : t.drivers) w.String(d.c_str());
    w.EndArray();
    w.Key("apps");
    w.StartArray();
    for (const Application& a : t.apps) {
        w.StartObject();
        Key(w, "name", a.name);
        WritePin(w, "user", a.userPin);
        WritePin(w, "admin", a.adminPin);
        w.Key("createFileRights");
        w.Uint(a.createFileRights);
        w.Key("containers");
        w.StartArray();
        for (const Container& c : a.containers) {
            w.StartObject();
            Key(w, "name", c.name);
            WriteKeyPair(w, "sign", c.signKey);
            WriteKeyPair(w, "enc", c.encKey);
            Key(w, "signCert", ToBase64(c.signCert));
            Key(w, "encCert", ToBase64(c.encCert));
            w.EndObject();
        }
        w.EndArray();
        w.Key("files");
        w.StartArray();
        for (const FileEntry& f : a.files) {
            w.StartObject();
            Key(w, "name", f.name);
            w.Key("read");
            w.Uint(f.readRights);
            w.Key("write");
            w.Uint(f.writeRights);
            Key(w, "data", ToBase64(f.data));
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    if (t.devAuth) WriteDevAuth(w, *t.devAuth);
    if (tag) Key(w, "tag", *tag);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string EncodeToken(const Token& token) { return WriteToken(token, nullptr); }

std::string EncodeTokenFile(const Token& token, const std::string& tag) { return WriteToken(token, &tag); }

DecodedToken DecodeToken(const std::string& text) {
    rapidjson::Document doc;
    if (!kit::ParseJson(text, doc) || !doc.IsObject()) throw std::runtime_error("token file is not JSON or is nested too deeply");
    DecodedToken decoded;
    decoded.format = Uint(doc, "format");
    if (decoded.format != 1 && decoded.format != kTaggedFormat)
        throw std::runtime_error("token file has an unknown format");
    if (decoded.format == kTaggedFormat) decoded.tag = Str(doc, "tag");
    Token& t = decoded.token;
    t.serial = Str(doc, "serial");
    t.label = Str(doc, "label");
    t.vid = static_cast<uint16_t>(Uint(doc, "vid"));
    t.pid = static_cast<uint16_t>(Uint(doc, "pid"));
    t.bcdDevice = static_cast<uint16_t>(Uint(doc, "bcdDevice"));
    t.manufacturer = Str(doc, "manufacturer");
    t.product = Str(doc, "product");
    for (const Value& d : Array(doc, "drivers").GetArray()) {
        if (!d.IsString()) throw std::runtime_error("token file: driver name expected");
        t.drivers.emplace_back(d.GetString());
    }
    for (const Value& av : Array(doc, "apps").GetArray()) {
        Application a;
        a.name = Str(av, "name");
        a.userPin = ReadPin(Member(av, "user"));
        a.adminPin = ReadPin(Member(av, "admin"));
        a.createFileRights = Uint(av, "createFileRights");
        for (const Value& cv : Array(av, "containers").GetArray()) {
            Container c;
            c.name = Str(cv, "name");
            c.signKey = ReadKeyPair(cv, "sign");
            c.encKey = ReadKeyPair(cv, "enc");
            c.signCert = FromBase64(Str(cv, "signCert"));
            c.encCert = FromBase64(Str(cv, "encCert"));
            a.containers.push_back(std::move(c));
        }
        for (const Value& fv : Array(av, "files").GetArray()) {
            FileEntry f;
            f.name = Str(fv, "name");
            f.readRights = Uint(fv, "read");
            f.writeRights = Uint(fv, "write");
            f.data = FromBase64(Str(fv, "data"));
            a.files.push_back(std::move(f));
        }
        t.apps.push_back(std::move(a));
    }
    t.devAuth = ReadDevAuth(doc);
    return decoded;
}

}  // namespace softkey
