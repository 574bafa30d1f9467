#include "core/vbus.h"

#include <stdio.h>

#include <cstdio>
#include <stdexcept>

#include "core/fs_util.h"

namespace softkey {
namespace {

constexpr char kPrefix[] = "sk-";
constexpr char kSessionFile[] = "softkey_session";

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

}  // namespace

std::string BusEntryName(const std::string& serial) { return kPrefix + serial; }

void Plug(const Store& store, const Token& token) {
    store.Prepare();
    std::string dir = store.DevicesDir();
    std::string entry = dir + "/" + BusEntryName(token.serial);
    if (PathExists(entry)) throw std::runtime_error("key " + token.serial + " is already plugged");
    // Built aside and renamed into place, so a watcher never sees a half-written device.
    std::string staging = dir + "/.plug-" + RandomHex(6);
    MakeDirs(staging);
    try {
        WriteFileAtomic(staging + "/idVendor", Hex4(token.vid) + "\n", 0644);
        WriteFileAtomic(staging + "/idProduct", Hex4(token.pid) + "\n", 0644);
        WriteFileAtomic(staging + "/bcdDevice", Hex4(token.bcdDevice) + "\n", 0644);
        WriteFileAtomic(staging + "/serial", token.serial + "\n", 0644);
        WriteFileAtomic(staging + "/manufacturer", token.manufacturer + "\n", 0644);
        WriteFileAtomic(staging + "/product", token.product + "\n", 0644);
        WriteFileAtomic(staging + "/" + std::string(kSessionFile), RandomHex(8) + "\n", 0644);
        if (rename(staging.c_str(), entry.c_str()) != 0)
            throw std::runtime_error("key " + token.serial + " is already plugged");
    } catch (...) {
        RemoveTree(staging);
        throw;
    }
    FsyncDirectory(dir);
}

void Unplug(const Store& store, const std::string& serial) {
    std::string dir = store.DevicesDir();
    std::string entry = dir + "/" + BusEntryName(serial);
    std::string leaving = dir + "/.unplug-" + RandomHex(6);
    if (!ValidSerial(serial) || rename(entry.c_str(), leaving.c_str()) != 0)
        throw std::runtime_error("key " + serial + " is not plugged");
    RemoveTree(leaving);
    FsyncDirectory(dir);
}

std::optional<std::string> PluggedSession(const Store& store, const std::string& serial) {
    if (!ValidSerial(serial)) return std::nullopt;
    std::string text;
    if (!ReadWholeFile(store.DevicesDir() + "/" + BusEntryName(serial) + "/" + kSessionFile, text))
        return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::vector<std::string> PluggedSerials(const Store& store) {
    std::vector<std::string> serials;
    const std::string prefix = kPrefix;
    for (const std::string& name : ListDirectory(store.DevicesDir())) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string serial = name.substr(prefix.size());
        if (ValidSerial(serial) && PluggedSession(store, serial)) serials.push_back(serial);
    }
    return serials;
}

}  // namespace softkey
