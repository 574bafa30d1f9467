#include "cli/commands.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <set>

#include "cli/key_report.h"
#include "cli/skf_function_names.h"
#include "core/faults.h"
#include "core/fs_util.h"
#include "core/seal_list.h"
#include "core/softcrypto.h"
#include "core/vbus.h"
#include "platform/files.h"

namespace softkey::cli {
namespace {

uint16_t ParseHex4(const std::string& text, const char* what) {
    if (text.size() != 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(std::string(what) + " must be four hexadecimal digits, not \"" + text + "\"");
    return static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

// A number in decimal, or hexadecimal with 0x, within [min, max].
uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const char* what) {
    return static_cast<uint32_t>(kit::cli::ParseNumber(text, min, max, what, 0));
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.empty()) throw UsageError("empty name in --drivers");
        parts.push_back(part);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

// Exactly `len` bytes given as hexadecimal digits.
Bytes ParseHexBytes(const std::string& text, size_t len, const char* what) {
    if (text.size() != 2 * len || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(std::string(what) + " must be " + std::to_string(2 * len) + " hexadecimal digits");
    Bytes bytes(len);
    for (size_t i = 0; i < len; ++i)
        bytes[i] = static_cast<uint8_t>(std::strtoul(text.substr(2 * i, 2).c_str(), nullptr, 16));
    return bytes;
}

void CheckPin(const std::string& pin, const char* what) {
    if (pin.size() < 6 || pin.size() > 32) throw UsageError(std::string(what) + " must have 6 to 32 characters");
}

bool SignUsage(const std::string& word) {
    if (word == "sign") return true;
    if (word == "enc") return false;
    throw UsageError("key usage must be sign or enc, not \"" + word + "\"");
}

// The key's first application, where the provisioning commands work.
Application& FirstApp(Token& t) {
    if (t.apps.empty()) throw std::runtime_error("key " + t.serial + " has no application");
    return t.apps.front();
}

Container& NamedContainer(Token& t, const std::string& name) {
    Container* c = FirstApp(t).FindContainer(name);
    if (!c) throw std::runtime_error("key " + t.serial + " has no container \"" + name + "\"");
    return *c;
}

// The whole file, or standard input for "-".
std::string ReadInput(const std::string& path) {
    std::string data;
    if (path == "-") {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.append(chunk, n);
        if (std::ferror(stdin)) throw std::runtime_error("cannot read standard input");
        return data;
    }
    if (!ReadWholeFile(path, data)) throw std::runtime_error("cannot read " + path);
    return data;
}

// Writes `data` whole to `path` (renamed into place), or to standard output for "-".
void WriteOutput(const std::string& path, const std::string& data, int mode) {
    if (path != "-") return WriteFileAtomic(path, data, mode);
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::fflush(stdout) != 0)
        throw std::runtime_error("cannot write to standard output");
}

// A certificate given as PEM or DER, returned as DER.
Bytes CertificateDer(const std::string& data, const std::string& path) {
    X509* cert = nullptr;
    if (data.find("-----BEGIN") != std::string::npos) {
        BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    } else {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
        cert = d2i_X509(nullptr, &p, static_cast<long>(data.size()));
    }
    if (!cert) throw std::runtime_error(path + " is not a certificate");
    unsigned char* der = nullptr;
    int len = i2d_X509(cert, &der);
    X509_free(cert);
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

std::string CertificatePem(const Bytes& der) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) throw std::runtime_error("stored certificate is damaged");
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(len));
    BIO_free(bio);
    X509_free(cert);
    return pem;
}

// Loads, changes and saves one key under the store's exclusive lock.
template <typename Change>
void ChangeKey(const Store& store, const std::string& serial, Change change) {
    Store::Lock lock(store, true);
    Token t = store.Load(serial);
    change(t);
    store.Save(t);
}


// The present local time as "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText() {
    struct tm parts = platform::LocalTime(time(nullptr));
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// Entry points of the seal libraries that faults may name.
const std::set<std::string> kSealEntryPoints = {"IsUKIn",          "GetSealCount", "ReadSealData",
                                                "OES_GetSealList", "OES_GetSeal",  "OES_GetSealImage"};
// Whether a fault may name `function`: an SKF function or a seal library entry point.
bool FaultTarget(const std::string& function) {
    for (const char* name : kSkfFunctionNames)
        if (function == name) return true;
    return kSealEntryPoints.count(function) > 0;
}

// Misbehaviours a fault may ask for instead of a failure code.
const std::set<std::string> kQuirks = {"unterminated", "overlong", "oversized"};

// The seal library built for each catalogue seal library name.
const char* const kSealLibraryBuilds[][2] = {
    {"XS_GetSealInfo.dll", "libsoftkey_seal_hnxa" SOFTKEY_LIBRARY_SUFFIX},
    {"SNCA_GetSeal180514.dll", "libsoftkey_seal_ggzy" SOFTKEY_LIBRARY_SUFFIX},
    {"SEAL_GZCA_KGseal.dll", "libsoftkey_seal_gz" SOFTKEY_LIBRARY_SUFFIX},
    {"ahca_oes.dll", "libsoftkey_seal_oes" SOFTKEY_LIBRARY_SUFFIX},
};

// The library `built` of this kit: where the install puts the test libraries relative to the
// installed tool, else in the build tree's lib directory beside the tool's bin.
std::string BuiltLibrary(const std::string& built) {
    std::string dir = platform::ProgramFile();
    if (dir.empty()) throw std::runtime_error("cannot find the program's own directory");
    dir = dir.substr(0, dir.rfind('/'));
    for (const std::string& candidate : {
             dir + "/" + SOFTKEY_INSTALLED_LIBRARIES + "/" + built, dir + "/../lib/" + built,
#if defined(_WIN32)
                 dir + "/" + built,  // DLLs are built beside the programs
#endif
         })
        if (platform::IsReadable(candidate)) return candidate;
    throw std::runtime_error("cannot find " + built + " beside the program; name it with --from");
}

// Copies a library (--from, else the kit's `built`) to ROOT/FAMILY/NAME.
void InstallLibrary(const Args& a, const std::string& built) {
    if (!a.Has("--root") || !a.Has("--name")) throw UsageError("the command needs --root and --name");
    std::string name = a.Option("--name");
    std::string family = a.Option("--family");
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        throw UsageError("--name must be a plain file name");
    if (family.find("..") != std::string::npos) throw UsageError("--family must not contain ..");
    std::string source = a.Has("--from") ? a.Option("--from") : BuiltLibrary(built);
    std::string library = ReadInput(source);
    std::string dir = a.Option("--root") + (family.empty() ? "" : "/" + family);
    MakeDirs(dir);
    // A fresh file each time (renamed into place), so a process using the old copy keeps it.
    WriteFileAtomic(dir + "/" + name, library, 0755);
    std::printf("installed %s/%s\n", dir.c_str(), name.c_str());
}

// `path` made absolute against the working directory, so the lines hold after a cd.
std::string AbsolutePath(const std::string& path) {
    if (platform::IsAbsolutePath(path)) return path;
    std::string cwd = platform::WorkingDirectory();
    if (cwd.empty()) throw std::runtime_error("cannot find the working directory");
    return cwd + "/" + path;
}

// `text` in single quotes for a POSIX shell.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

void ExpectCount(const Args& a, size_t n) {
    if (a.positional.size() != n)
        throw UsageError("wrong number of arguments (" + std::to_string(a.positional.size()) + " instead of " +
                         std::to_string(n) + ")");
}

int CmdCreate(const Store& store, const Args& a) {
    ExpectCount(a, 0);
    for (const char* required : {"--serial", "--vid", "--pid"})
        if (!a.Has(required)) throw UsageError(std::string("create needs ") + required);
    Token t;
    t.serial = a.Option("--serial");
    if (!ValidSerial(t.serial))
        throw UsageError("serial must be 1 to 31 letters, digits, '.', '_' or '-'");
    t.vid = ParseHex4(a.Option("--vid"), "--vid");
    t.pid = ParseHex4(a.Option("--pid"), "--pid");
    t.label = a.Option("--label", "Softkey " + t.serial);
    if (t.label.size() > 31) throw UsageError("label must have at most 31 characters");
    if (a.Has("--drivers")) t.drivers = SplitCommas(a.Option("--drivers"));
    Application app;
    app.name = a.Option("--app", "DEFAULT_APP");
    if (app.name.empty() || app.name.size() > 48) throw UsageError("application name must have 1 to 48 characters");
    std::string userPin = a.Option("--user-pin", "12345678");
    std::string adminPin = a.Option("--admin-pin", "70315926");
    CheckPin(userPin, "--user-pin");
    CheckPin(adminPin, "--admin-pin");
    uint32_t retries = ParseNumber(a.Option("--retries", "6"), 1, 15, "--retries");
    app.userPin = MakePin(userPin, retries);
    app.adminPin = MakePin(adminPin, retries);
    t.apps.push_back(app);
    DevAuth devAuth;
    devAuth.required = a.Has("--require-dev-auth");
    Bytes devAuthKey;
    if (a.Has("--dev-auth-key")) devAuthKey = ParseHexBytes(a.Option("--dev-auth-key"), 16, "--dev-auth-key");

    Store::Lock lock(store, true);
    if (store.Exists(t.serial)) throw std::runtime_error("a key with serial " + t.serial + " exists already");
    if (!devAuthKey.empty()) devAuth.sealedKey = Seal(store.StoreKey(), devAuthKey);
    t.devAuth = devAuth;
    store.Save(t);
    std::printf("created key %s (%04x:%04x), unplugged\n", t.serial.c_str(), t.vid, t.pid);
    return 0;
}

int CmdPlug(const Store& store, const Args& a) {
    ExpectCount(a, 1);
    Store::Lock lock(store, true);
    Token t = store.Load(a.At(0, "serial"));
    Plug(store, t);
    std::printf("plugged %s\n", t.serial.c_str());
    return 0;
}

int CmdUnplug(const Store& store, const Args& a) {
    ExpectCount(a, 1);
    Store::Lock lock(store, true);
    const std::string& serial = a.At(0, "serial");
    Unplug(store, serial);
    std::printf("unplugged %s\n", serial.c_str());
    return 0;
}

int CmdDelete(const Store& store, const Args& a) {
    ExpectCount(a, 1);
    Store::Lock lock(store, true);
    const std::string& serial = a.At(0, "serial");
    if (!store.Exists(serial)) throw std::runtime_error("no key with serial " + serial);
    if (PluggedSession(store, serial)) Unplug(store, serial);
    ClearFaults(store, serial);
    RemoveSeals(store, serial);
    store.Remove(serial);
    std::printf("deleted %s\n", serial.c_str());
    return 0;
}

int CmdFault(const Store& store, const Args& a) {
    if (a.positional.size() == 2 && a.positional[1] == "clear") {
        ClearFaults(store, a.positional[0]);
        std::printf("cleared faults of %s\n", a.positional[0].c_str());
        return 0;
    }
    ExpectCount(a, 3);
    Fault f;
    f.serial = a.At(0, "serial");
    if (!store.Exists(f.serial)) throw std::runtime_error("no key with serial " + f.serial);
    f.function = a.At(1, "function");
    if (!FaultTarget(f.function))
        throw UsageError("FUNCTION must be an SKF function or a seal library entry point");
    const std::string& code = a.At(2, "code");
    if (kQuirks.count(code)) {
        f.quirk = code;
    } else {
        f.code = ParseNumber(code, 1, 0xFFFFFFFF, "CODE");
    }
    f.count = ParseNumber(a.Option("--count", "1"), 1, 0xFFFFFFFF, "--count");
    f.arg = a.Option("--arg");
    AddFault(store, f);
    if (!f.quirk.empty())
        std::printf("%s of %s is %s for %u call(s)\n", f.function.c_str(), f.serial.c_str(), f.quirk.c_str(), f.count);
    else
        std::printf("%s of %s fails with 0x%08X for %u call(s)\n", f.function.c_str(), f.serial.c_str(), f.code,
                    f.count);
    return 0;
}

int CmdInstallDriver(const Store&, const Args& a) {
    ExpectCount(a, 0);
    InstallLibrary(a, "libsoftkey" SOFTKEY_LIBRARY_SUFFIX);
    return 0;
}

int CmdInstallSealLibrary(const Store&, const Args& a) {
    ExpectCount(a, 0);
    std::string built;
    for (const auto& pair : kSealLibraryBuilds)
        if (a.Option("--name") == pair[0]) built = pair[1];
    if (built.empty() && !a.Has("--from"))
        throw UsageError("--name must be a catalogue seal library name unless --from is given");
    InstallLibrary(a, built);
    return 0;
}

int CmdSeal(const Store& store, const Args& a) {
    const std::string& verb = a.At(0, "seal command (add or list)");
    if (verb == "list") {
        ExpectCount(a, 2);
        const std::string& serial = a.At(1, "serial");
        Store::Lock lock(store, false);
        if (!store.Exists(serial)) throw std::runtime_error("no key with serial " + serial);
        for (const SealEntry& e : LoadSeals(store, serial))
            std::printf("%s %s %zu%s\n", e.name.c_str(), SealFormName(e.form), e.image.size(),
                        e.time.empty() ? "" : (" " + e.time).c_str());
        return 0;
    }
    if (verb != "add") throw UsageError("unknown seal command " + verb);
    ExpectCount(a, 4);
    const std::string& serial = a.At(1, "serial");
    SealEntry seal;
    seal.name = a.At(2, "seal name");
    if (seal.name.empty() || seal.name.size() > 255) throw UsageError("seal name must have 1 to 255 characters");
    std::string image = ReadInput(a.At(3, "image path"));
    seal.image.assign(image.begin(), image.end());
    seal.time = a.Has("--time") ? a.Option("--time") : LocalTimeText();
    try {
        seal.form = ParseSealForm(a.Option("--form", "ggzy"));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    Store::Lock lock(store, true);
    if (!store.Exists(serial)) throw std::runtime_error("no key with serial " + serial);
    std::vector<SealEntry> seals = LoadSeals(store, serial);
    seals.push_back(seal);
    SaveSeals(store, serial, seals);
    std::printf("added %s seal %s (%zu bytes) to %s\n", SealFormName(seal.form), seal.name.c_str(), image.size(),
                serial.c_str());
    return 0;
}

int CmdFile(const Store& store, const Args& a) {
    const std::string& verb = a.At(0, "file command (put, get or list)");
    if (verb == "list") {
        ExpectCount(a, 2);
        Store::Lock lock(store, false);
        Token t = store.Load(a.At(1, "serial"));
        for (const FileEntry& f : FirstApp(t).files) std::printf("%s %zu\n", f.name.c_str(), f.data.size());
        return 0;
    }
    ExpectCount(a, 4);
    const std::string& serial = a.At(1, "serial");
    const std::string& name = a.At(2, "file name");
    const std::string& path = a.At(3, "path");
    if (verb == "put") {
        if (name.empty() || name.size() > 31) throw UsageError("file name must have 1 to 31 characters");
        std::string data = ReadInput(path);
        ChangeKey(store, serial, [&](Token& t) {
            Application& app = FirstApp(t);
            FileEntry* f = app.FindFile(name);
            if (!f) {
                app.files.push_back(FileEntry{name, 0xFF, 0xFF, {}});
                f = &app.files.back();
            }
            f->data.assign(data.begin(), data.end());
        });
        std::printf("wrote %zu bytes to %s of %s\n", data.size(), name.c_str(), serial.c_str());
        return 0;
    }
    if (verb == "get") {
        Store::Lock lock(store, false);
        Token t = store.Load(serial);
        const FileEntry* f = FirstApp(t).FindFile(name);
        if (!f) throw std::runtime_error("key " + serial + " has no file \"" + name + "\"");
        WriteOutput(path, std::string(f->data.begin(), f->data.end()), 0644);
        return 0;
    }
    throw UsageError("unknown file command " + verb);
}

int CmdCert(const Store& store, const Args& a) {
    ExpectCount(a, 5);
    const std::string& verb = a.At(0, "cert command");
    const std::string& serial = a.At(1, "serial");
    const std::string& container = a.At(2, "container");
    bool sign = SignUsage(a.At(3, "key usage"));
    const std::string& path = a.At(4, "path");
    if (verb == "import") {
        Bytes der = CertificateDer(ReadInput(path), path);
        ChangeKey(store, serial, [&](Token& t) { (sign ? NamedContainer(t, container).signCert : NamedContainer(t, container).encCert) = der; });
        std::printf("imported the %s certificate into %s of %s\n", sign ? "sign" : "enc", container.c_str(),
                    serial.c_str());
        return 0;
    }
    if (verb == "export") {
        Store::Lock lock(store, false);
        Token t = store.Load(serial);
        const Bytes& der = sign ? NamedContainer(t, container).signCert : NamedContainer(t, container).encCert;
        if (der.empty()) throw std::runtime_error("container " + container + " has no " + (sign ? "sign" : "enc") + " certificate");
        WriteOutput(path, CertificatePem(der), 0644);
        return 0;
    }
    throw UsageError("unknown cert command " + verb);
}

int CmdContainer(const Store& store, const Args& a) {
    const std::string& verb = a.At(0, "container command (list, create or pubkey)");
    if (verb == "list") {
        ExpectCount(a, 2);
        Store::Lock lock(store, false);
        Token t = store.Load(a.At(1, "serial"));
        for (const Container& c : FirstApp(t).containers)
            std::printf("%s sign=%s enc=%s%s\n", c.name.c_str(), KeyText(c.signKey).c_str(), KeyText(c.encKey).c_str(),
                        c.signCert.empty() ? "" : " cert");
        return 0;
    }
    if (verb == "create") {
        ExpectCount(a, 4);
        const std::string& serial = a.At(1, "serial");
        const std::string& name = a.At(2, "container name");
        const std::string& kind = a.At(3, "key kind");
        if (name.empty() || name.size() > 64) throw UsageError("container name must have 1 to 64 characters");
        KeyAlg alg = KeyAlg::Sm2;
        int bits = 256;
        if (kind == "rsa1024" || kind == "rsa2048" || kind == "rsa4096") {
            alg = KeyAlg::Rsa;
            bits = std::atoi(kind.c_str() + 3);
        } else if (kind != "sm2") {
            throw UsageError("key kind must be rsa1024, rsa2048, rsa4096 or sm2");
        }
        ChangeKey(store, serial, [&](Token& t) {
            Application& app = FirstApp(t);
            if (app.FindContainer(name)) throw std::runtime_error("container " + name + " exists already");
            Bytes spki;
            Bytes priv = GenerateKeyPair(alg, bits, spki);
            Container c;
            c.name = name;
            c.signKey = SealKeyPair(store, alg, bits, spki, priv);
            OPENSSL_cleanse(priv.data(), priv.size());
            app.containers.push_back(c);
        });
        std::printf("created container %s with a %s signing key on %s\n", name.c_str(), kind.c_str(), serial.c_str());
        return 0;
    }
    if (verb == "pubkey") {
        ExpectCount(a, 5);
        Store::Lock lock(store, false);
        Token t = store.Load(a.At(1, "serial"));
        Container& c = NamedContainer(t, a.At(2, "container name"));
        bool sign = SignUsage(a.At(3, "key usage"));
        const std::optional<KeyPair>& key = sign ? c.signKey : c.encKey;
        if (!key) throw std::runtime_error("container " + c.name + " has no " + (sign ? "sign" : "enc") + " key");
        WriteOutput(a.At(4, "path"), PublicKeyPem(key->publicKey), 0644);
        return 0;
    }
    throw UsageError("unknown container command " + verb);
}

int CmdStore(const Store& store, const Args& a) {
    const std::string& verb = a.At(0, "store command (init or upgrade)");
    if (verb == "init") {
        ExpectCount(a, 1);
        Store::Lock lock(store, true);
        store.InitStoreKey(a.Has("--force"));
        std::printf("created the store key %s/store.key\n", store.Root().c_str());
        return 0;
    }
    if (verb == "upgrade") {
        ExpectCount(a, 1);
        Store::Lock lock(store, true);
        std::vector<std::string> serials = store.TagUntaggedRecords();
        if (serials.empty()) std::printf("every key's record carries its tag already\n");
        for (const std::string& serial : serials) std::printf("tagged the record of key %s\n", serial.c_str());
        return 0;
    }
    throw UsageError("store command must be init or upgrade, not \"" + verb + "\"");
}

int CmdEnv(const Store& store, const Args& a) {
    ExpectCount(a, 0);
    std::string root = AbsolutePath(store.Root());
    std::string drivers = a.Has("--drivers") ? AbsolutePath(a.Option("--drivers")) : root + "/drivers";
    std::printf("export SOFTKEY_STORE=%s\n", ShellQuoted(root).c_str());
    std::printf("export TESSAL_USB_SYSFS=%s\n", ShellQuoted(Store(root).DevicesDir()).c_str());
    std::printf("export TESSAL_DRIVER_DIR=%s\n", ShellQuoted(drivers).c_str());
    return 0;
}

}  // namespace softkey::cli
