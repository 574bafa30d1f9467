// `list` and `show`: the keys of the store as text for people or JSON for scripts.
#include "cli/key_report.h"

#include <openssl/x509.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "cli/commands.h"
#include "core/vbus.h"

namespace softkey::cli {
namespace {

using JsonWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

const char* StateText(const Store& store, const std::string& serial) {
    return PluggedSession(store, serial) ? "plugged" : "unplugged";
}

void WriteString(JsonWriter& w, const char* key, const std::string& value) {
    w.Key(key);
    w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void WritePin(JsonWriter& w, const char* key, const Pin& pin) {
    w.Key(key);
    w.StartObject();
    w.Key("triesLeft");
    w.Uint(pin.remain);
    w.Key("maxTries");
    w.Uint(pin.maxRetry);
    w.Key("locked");
    w.Bool(pin.remain == 0);
    w.EndObject();
}

// A key pair as its kind, a certificate as its subject; null when absent.
void WriteKey(JsonWriter& w, const char* key, const std::optional<KeyPair>& pair) {
    w.Key(key);
    if (pair) w.String(KeyText(pair).c_str());
    else w.Null();
}

void WriteCertificate(JsonWriter& w, const char* key, const Bytes& der) {
    w.Key(key);
    if (der.empty()) w.Null();
    else w.String(CertificateSubject(der).c_str());
}

// The fields `list` shows of every key.
void WriteSummary(JsonWriter& w, const Store& store, const Token& t) {
    WriteString(w, "serial", t.serial);
    WriteString(w, "vid", Hex4(t.vid));
    WriteString(w, "pid", Hex4(t.pid));
    w.Key("plugged");
    w.Bool(PluggedSession(store, t.serial).has_value());
    WriteString(w, "label", t.label);
}

void WriteApplication(JsonWriter& w, const Application& app) {
    w.StartObject();
    WriteString(w, "name", app.name);
    WritePin(w, "userPin", app.userPin);
    WritePin(w, "adminPin", app.adminPin);
    w.Key("containers");
    w.StartArray();
    for (const Container& c : app.containers) {
        w.StartObject();
        WriteString(w, "name", c.name);
        WriteKey(w, "signKey", c.signKey);
        WriteKey(w, "encKey", c.encKey);
        WriteCertificate(w, "signCert", c.signCert);
        WriteCertificate(w, "encCert", c.encCert);
        w.EndObject();
    }
    w.EndArray();
    w.Key("files");
    w.StartArray();
    for (const FileEntry& f : app.files) {
        w.StartObject();
        WriteString(w, "name", f.name);
        w.Key("size");
        w.Uint64(f.data.size());
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
}

// "5/6 tries left", or "locked (6 tries used)" when none is left.
std::string PinText(const Pin& pin) {
    if (pin.remain == 0) return "locked (" + std::to_string(pin.maxRetry) + " tries used)";
    return std::to_string(pin.remain) + "/" + std::to_string(pin.maxRetry) + " tries left";
}

// Device authentication as `show` reports it.
void WriteDevAuth(JsonWriter& w, const DevAuth& d) {
    w.Key("devAuth");
    w.StartObject();
    WriteString(w, "algorithm", "SM4-ECB");
    w.Key("defaultKey");
    w.Bool(d.sealedKey.empty());
    w.Key("triesLeft");
    w.Uint(d.remain);
    w.Key("maxTries");
    w.Uint(d.maxRetry);
    w.Key("requiredForApplications");
    w.Bool(d.required);
    w.EndObject();
}

std::string DevAuthText(const DevAuth& d) {
    std::string text = "device authentication: SM4-ECB, ";
    text += d.sealedKey.empty() ? "default key" : "key set";
    text += ", " + std::to_string(d.remain) + "/" + std::to_string(d.maxRetry) + " tries left";
    if (d.remain == 0) text += " (locked)";
    text += d.required ? ", required to create or delete applications" : ", not required";
    return text;
}

void PrintJson(const rapidjson::StringBuffer& buffer) { std::printf("%s\n", buffer.GetString()); }

}  // namespace

std::string KeyText(const std::optional<KeyPair>& key) {
    if (!key) return "none";
    return key->alg == KeyAlg::Rsa ? "rsa" + std::to_string(key->bits) : "sm2";
}

std::string CertificateSubject(const Bytes& der) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) return "(not a certificate)";
    char* line = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
    std::string subject = line ? line : "";
    OPENSSL_free(line);
    X509_free(cert);
    return subject;
}

int CmdList(const Store& store, const Args& a) {
    ExpectCount(a, 0);
    Store::Lock lock(store, false);
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartArray();
    int status = 0;
    for (const std::string& serial : store.Serials()) {
        Token t;
        try {
            t = store.Load(serial);
        } catch (const std::runtime_error& e) {
            // A key whose file is refused is reported; the others are still listed.
            std::fflush(stdout);
            std::fprintf(stderr, "softkey: %s\n", e.what());
            status = 1;
            continue;
        }
        if (a.Has("--json")) {
            w.StartObject();
            WriteSummary(w, store, t);
            w.EndObject();
        } else {
            std::printf("%s %04x:%04x %s \"%s\"\n", serial.c_str(), t.vid, t.pid, StateText(store, serial),
                        t.label.c_str());
        }
    }
    w.EndArray();
    if (a.Has("--json")) PrintJson(buffer);
    return status;
}

int CmdShow(const Store& store, const Args& a) {
    ExpectCount(a, 1);
    Store::Lock lock(store, false);
    Token t = store.Load(a.At(0, "serial"));
    if (a.Has("--json")) {
        rapidjson::StringBuffer buffer;
        JsonWriter w(buffer);
        w.StartObject();
        WriteSummary(w, store, t);
        w.Key("drivers");
        w.StartArray();
        for (const std::string& d : t.drivers) w.String(d.c_str());
        w.EndArray();
        w.Key("applications");
        w.StartArray();
        for (const Application& app : t.apps) WriteApplication(w, app);
        w.EndArray();
        WriteDevAuth(w, t.devAuth.value_or(DevAuth{}));
        w.EndObject();
        PrintJson(buffer);
        return 0;
    }
    std::cout << "serial: " << t.serial << "\nusb id: " << Hex4(t.vid) << ":" << Hex4(t.pid) << "\nlabel: " << t.label
              << "\nstate: " << StateText(store, t.serial) << "\ndrivers: ";
    if (t.drivers.empty()) std::cout << "(any)";
    for (size_t i = 0; i < t.drivers.size(); ++i) std::cout << (i ? "," : "") << t.drivers[i];
    std::cout << "\n" << DevAuthText(t.devAuth.value_or(DevAuth{})) << "\n";
    for (const Application& app : t.apps) {
        std::cout << "application " << app.name << ": user PIN " << PinText(app.userPin) << ", admin PIN "
                  << PinText(app.adminPin) << "\n";
        for (const Container& c : app.containers) {
            std::cout << "  container " << c.name << ": sign key " << KeyText(c.signKey) << ", enc key "
                      << KeyText(c.encKey) << "\n";
            if (!c.signCert.empty()) std::cout << "    sign cert " << CertificateSubject(c.signCert) << "\n";
            if (!c.encCert.empty()) std::cout << "    enc cert " << CertificateSubject(c.encCert) << "\n";
        }
        for (const FileEntry& f : app.files) std::cout << "  file " << f.name << " (" << f.data.size() << " bytes)\n";
    }
    return 0;
}

}  // namespace softkey::cli
