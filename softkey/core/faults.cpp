#include "core/faults.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

#include "core/fs_util.h"
#include "kit/json_parse.h"
#include "platform/files.h"

namespace softkey {
namespace {

// Faults have their own lock, so they can be consumed while the store lock is held.
class FaultLock {
public:
    explicit FaultLock(const Store& store) {
        store.Prepare();
        std::string path = store.Root() + "/.faults.lock";
        m_fd = platform::OpenLockFile(path);
        if (m_fd < 0) throw std::runtime_error("cannot open " + path);
        platform::LockFile(m_fd, true);
    }
    ~FaultLock() { platform::CloseLockFile(m_fd); }

private:
    int m_fd;
};

std::vector<Fault> Read(const Store& store) {
    std::vector<Fault> faults;
    std::string text;
    if (!ReadWholeFile(store.FaultsPath(), text)) return faults;
    rapidjson::Document doc;
    if (!kit::ParseJson(text, doc) || !doc.IsArray()) throw std::runtime_error("faults file is damaged");
    for (const auto& v : doc.GetArray()) {
        if (!v.IsObject() || !v.HasMember("serial") || !v.HasMember("function") ||
            !v.HasMember("code") || !v.HasMember("count") || !v.HasMember("arg") ||
            !v["serial"].IsString() || !v["function"].IsString() || !v["code"].IsUint() ||
            !v["count"].IsUint() || !v["arg"].IsString())
            throw std::runtime_error("faults file is damaged");
        Fault f;
        f.serial = v["serial"].GetString();
        f.function = v["function"].GetString();
        f.code = v["code"].GetUint();
        f.count = v["count"].GetUint();
        f.arg = v["arg"].GetString();
        if (v.HasMember("quirk")) {
            if (!v["quirk"].IsString()) throw std::runtime_error("faults file is damaged");
            f.quirk = v["quirk"].GetString();
        }
        faults.push_back(f);
    }
    return faults;
}

void Write(const Store& store, const std::vector<Fault>& faults) {
    if (faults.empty()) {
        platform::RemoveFile(store.FaultsPath());
        return;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartArray();
    for (const Fault& f : faults) {
        w.StartObject();
        w.Key("serial");
        w.String(f.serial.c_str());
        w.Key("function");
        w.String(f.function.c_str());
        w.Key("code");
        w.Uint(f.code);
        w.Key("count");
        w.Uint(f.count);
        w.Key("arg");
        w.String(f.arg.c_str());
        if (!f.quirk.empty()) {
            w.Key("quirk");
            w.String(f.quirk.c_str());
        }
        w.EndObject();
    }
    w.EndArray();
    WriteFileAtomic(store.FaultsPath(), std::string(buffer.GetString(), buffer.GetSize()));
}

}  // namespace

void AddFault(const Store& store, const Fault& fault) {
    FaultLock lock(store);
    std::vector<Fault> faults = Read(store);
    faults.push_back(fault);
    Write(store, faults);
}

std::vector<Fault> ListFaults(const Store& store) {
    FaultLock lock(store);
    return Read(store);
}

void ClearFaults(const Store& store, const std::string& serial) {
    FaultLock lock(store);
    std::vector<Fault> kept;
    for (const Fault& f : Read(store))
        if (f.serial != serial) kept.push_back(f);
    Write(store, kept);
}

namespace {

// Consumes the first fault of `serial` and `function` that matches `arg` and is a quirk or not
// (the quirk `only` when that is not empty).
bool TakeMatching(const Store& store, const std::string& serial, const std::string& function,
                  const std::string& arg, bool quirk, Fault& taken, const std::string& only = std::string()) {
    if (!PathExists(store.FaultsPath())) return false;
    FaultLock lock(store);
    std::vector<Fault> faults = Read(store);
    for (size_t i = 0; i < faults.size(); ++i) {
        Fault& f = faults[i];
        if (f.serial != serial || f.function != function || f.quirk.empty() == quirk) continue;
        if (!f.arg.empty() && f.arg != arg) continue;
        if (!only.empty() && f.quirk != only) continue;
        taken = f;
        if (--f.count == 0) faults.erase(faults.begin() + static_cast<long>(i));
        Write(store, faults);
        return true;
    }
    return false;
}

}  // namespace

uint32_t TakeFault(const Store& store, const std::string& serial, const std::string& function,
                   const std::string& arg) {
    Fault f;
    return TakeMatching(store, serial, function, arg, false, f) ? f.code : 0;
}

std::string TakeQuirk(const Store& store, const std::string& serial, const std::string& function,
                      const std::string& arg, const std::string& only) {
    Fault f;
    return TakeMatching(store, serial, function, arg, true, f, only) ? f.quirk : std::string();
}

}  // namespace softkey
