// `tessal keys` and `tessal pin`: the attached keys and their user PIN.
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "tool_io.h"
#include "tessal/devices.h"
#include "pin_source.h"
#include "tessal/result.h"

namespace tessal_tool {
namespace {

struct KeyDescription {
    std::string id, library, kind, containers;
    bool current = false;
};

std::string Joined(const std::vector<std::string>& words, const char* separator = ", ") {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : separator) + w;
    return text;
}

// Each attached key as the library sees it once current; the current key is restored after.
std::vector<KeyDescription> DescribeKeys() {
    std::string current;
    ZYKGetCurrentDeviceId(current);
    std::vector<KeyDescription> keys;
    for (std::string id : ZYKGetDeviceIds()) {
        KeyDescription k;
        k.id = id;
        k.current = id == current;
        if (ZYKChangeCurrentDeviceId(id)) {
            k.library = ZYKLibName();
            ZYKGetUkeyType(k.kind);
            k.containers = ZYKGetContainers();
        }
        keys.push_back(k);
    }
    if (!current.empty()) ZYKChangeCurrentDeviceId(current);
    return keys;
}

std::string KeysJson(const std::vector<KeyDescription>& keys) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.StartArray();
    for (const KeyDescription& k : keys) {
        w.StartObject();
        w.Key("id");
        w.String(k.id.c_str());
        w.Key("library");
        w.String(k.library.c_str());
        w.Key("kind");
        if (k.kind.empty())
            w.Null();
        else
            w.Int(std::atoi(k.kind.c_str()));
        w.Key("containers");
        w.StartArray();
        for (size_t start = 0; start < k.containers.size();) {
            size_t end = std::min(k.containers.find(';', start), k.containers.size());
            w.String(k.containers.substr(start, end - start).c_str());
            start = end + 1;
        }
        w.EndArray();
        w.Key("current");
        w.Bool(k.current);
        w.EndObject();
    }
    w.EndArray();
    return std::string(buffer.GetString()) + "\n";
}

// "1 try left", "5 tries left".
std::string TriesLeft(int tries) { return std::to_string(tries) + (tries == 1 ? " try left" : " tries left"); }

}  // namespace

void ExpectWords(const Args& a, size_t n) {
    if (a.positional.size() != n)
        throw UsageError("wrong number of arguments (" + std::to_string(a.positional.size()) + " instead of " +
                         std::to_string(n) + ")");
}

std::runtime_error LibraryFailure(const std::string& what) {
    return std::runtime_error(what + ": " + ZYKGetLastError());
}

std::string ChooseKey(const Args& a) {
    std::vector<std::string> ids = ZYKGetDeviceIds();
    if (ids.empty()) {
        // A catalogued key whose driver library is missing is not "no key".
        std::vector<std::string> unopened = ZYKGetUnopenedKeys();
        throw std::runtime_error(unopened.empty() ? "no key is attached" : Joined(unopened, "; "));
    }
    std::string id;
    if (a.Has("--key")) {
        id = a.Option("--key");
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            throw std::runtime_error("key " + id + " is not attached (attached: " + Joined(ids) + ")");
        if (!ZYKChangeCurrentDeviceId(id)) throw LibraryFailure("cannot use key " + id);
    } else if (!ZYKGetCurrentDeviceId(id) || id.empty()) {
        throw LibraryFailure("no current key");
    }
    return id;
}

void VerifyPin(const Args& a, const std::string& id) {
    std::string pin = ReadPin(a, "--pin-file", "--pin-env", "User PIN of " + id);
    int tries = ZYKVerifyPin(pin, id);
    // -1 also comes back when verification failed before the key counted: the flag decides.
    if (tries == -1 && ZYKIsPinVerified()) return;
    std::string reason = ZYKGetLastError();
    if (tries == 0)
        throw std::runtime_error("the PIN of " + id + " is locked; unblock it with \"tessal pin unblock\": " + reason);
    if (tries < 0) throw std::runtime_error("the PIN of " + id + " was not verified: " + reason);
    throw std::runtime_error("the PIN of " + id + " was not accepted (" + TriesLeft(tries) + "): " + reason);
}

int CmdKeys(const Args& a) {
    ExpectWords(a, 0);
    std::vector<KeyDescription> keys = DescribeKeys();
    std::vector<std::string> unopened = ZYKGetUnopenedKeys();
    if (a.Has("--json")) {
        std::fputs(KeysJson(keys).c_str(), Output());
    } else {
        if (keys.empty() && unopened.empty()) std::fputs("no key is attached\n", Output());
        for (const KeyDescription& k : keys)
            std::fprintf(Output(), "%s%s  library %s  kind %s  containers %s\n", k.id.c_str(),
                         k.current ? " (current)" : "", k.library.empty() ? "-" : k.library.c_str(),
                         k.kind.empty() ? "-" : k.kind.c_str(),
                         k.containers.empty() ? "-" : k.containers.c_str());
    }
    // Attached keys without a usable driver are a failure, reported beside the keys that work.
    for (const std::string& line : unopened) std::fprintf(stderr, "tessal: %s\n", line.c_str());
    return unopened.empty() ? 0 : 1;
}

int CmdPin(const Args& a) {
    ExpectWords(a, 1);
    const std::string& verb = a.positional[0];
    if (verb != "verify" && verb != "change" && verb != "unblock")
        throw UsageError("pin command must be verify, change or unblock, not \"" + verb + "\"");
    std::string id = ChooseKey(a);
    if (verb == "verify") {
        VerifyPin(a, id);
        std::fprintf(Output(), "the PIN of %s is verified\n", id.c_str());
        return 0;
    }
    if (verb == "change") {
        std::string old = ReadPin(a, "--pin-file", "--pin-env", "Present user PIN of " + id);
        std::string fresh = ReadPin(a, "--new-pin-file", "--new-pin-env", "New user PIN", true);
        if (!ZYKChangePIN(old, fresh)) throw LibraryFailure("the PIN of " + id + " was not changed");
        std::fprintf(Output(), "the PIN of %s is changed\n", id.c_str());
        return 0;
    }
    // Unblocking takes the key's administrator PIN, as the user gives it.
    std::string admin = ReadPin(a, "--admin-pin-file", "--admin-pin-env", "Administrator PIN of " + id);
    std::string fresh = ReadPin(a, "--new-pin-file", "--new-pin-env", "New user PIN", true);
    if (!ZYKUnblockPINWithAdminPin(admin, fresh)) throw LibraryFailure("the PIN of " + id + " was not unblocked");
    std::fprintf(Output(), "the PIN of %s is unblocked and set anew\n", id.c_str());
    return 0;
}

}  // namespace tessal_tool
