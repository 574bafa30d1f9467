#include "core/store.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "core/fs_util.h"
#include "core/record_tag.h"
#include "core/softcrypto.h"
#include "kit/atomic_file.h"
#include "kit/user_dirs.h"
#include "platform/files.h"

namespace softkey {

Store::Store(std::string root) : m_root(std::move(root)) {
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
}

std::string Store::DefaultRoot() {
    const char* env = std::getenv("SOFTKEY_STORE");
    if (env && *env) return env;
    std::string home = kit::HomeDirectory();
    return home.empty() ? std::string() : home + "/.softkey";
}

std::string Store::TokenPath(const std::string& serial) const {
    return m_root + "/tokens/" + serial + ".json";
}

std::string Store::DevicesDir() const { return m_root + "/sys/bus/usb/devices"; }

std::string Store::FaultsPath() const { return m_root + "/faults.json"; }

void Store::Prepare() const {
    if (m_root.empty())
        throw std::runtime_error("no key store: there is no home directory; set SOFTKEY_STORE to a private directory");
    std::string error;
    if (!kit::EnsurePrivateDirectory(m_root, error)) throw std::runtime_error("the key store is not private: " + error);
    MakeDirs(m_root + "/tokens");
    MakeDirs(DevicesDir());
}

Store::Lock::Lock(const Store& store, bool exclusive) : m_fd(-1) {
    store.Prepare();
    std::string path = store.Root() + "/.lock";
    m_fd = platform::OpenLockFile(path);
    if (m_fd < 0) throw std::runtime_error("cannot open the store lock " + path + ": " + std::strerror(errno));
    if (!platform::LockFile(m_fd, exclusive)) {
        platform::CloseLockFile(m_fd);
        throw std::runtime_error("cannot lock the store " + store.Root());
    }
    if (exclusive) store.RemoveStaleTemporaries();
}

Store::Lock::~Lock() {
    platform::CloseLockFile(m_fd);  // closing releases the lock
}

bool Store::Exists(const std::string& serial) const {
    return ValidSerial(serial) && PathExists(TokenPath(serial));
}

DecodedToken Store::Decode(const std::string& serial) const {
    if (!ValidSerial(serial)) throw std::runtime_error("invalid serial number \"" + serial + "\"");
    std::string text;
    if (!ReadWholeFile(TokenPath(serial), text)) throw std::runtime_error("no key with serial " + serial);
    DecodedToken decoded;
    try {
        decoded = DecodeToken(text);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("key " + serial + " is refused: " + e.what());
    }
    if (decoded.token.serial != serial) throw std::runtime_error("token file of " + serial + " names another key");
    return decoded;
}

Token Store::Load(const std::string& serial) const {
    DecodedToken decoded = Decode(serial);
    if (decoded.format == 1)
        throw std::runtime_error("key " + serial +
                                 " was stored by an earlier softkey without an authentication tag: "
                                 "accept it with \"softkey store upgrade\"");
    if (!TagMatches(RecordTag(StoreKey(), EncodeToken(decoded.token)), decoded.tag))
        throw std::runtime_error("key " + serial +
                                 " is refused: its token file fails the authentication check (changed outside "
                                 "softkey, or written under another store key)");
    return std::move(decoded.token);
}

void Store::Save(const Token& token) const {
    if (!ValidSerial(token.serial)) throw std::runtime_error("invalid serial number");
    Prepare();
    std::string record = EncodeToken(token);
    WriteFileAtomic(TokenPath(token.serial), EncodeTokenFile(token, RecordTag(StoreKey(), record)));
}

std::vector<std::string> Store::TagUntaggedRecords() const {
    std::vector<Token> untagged;
    bool keysSealed = false, anyTagged = false;
    for (const std::string& serial : Serials()) {
        DecodedToken decoded = Decode(serial);
        if (decoded.format != 1) {
            anyTagged = true;
            continue;
        }
        for (const Application& app : decoded.token.apps)
            for (const Container& c : app.containers) keysSealed = keysSealed || c.signKey || c.encKey;
        untagged.push_back(std::move(decoded.token));
    }
    std::vector<std::string> serials;
    if (untagged.empty()) return serials;
    // Earlier versions made the store key only when they first sealed a private key.
    Bytes key;
    if (!ReadStoreKey(key) && !keysSealed && !anyTagged) CreateStoreKey();
    for (const Token& token : untagged) {
        Save(token);
        serials.push_back(token.serial);
    }
    return serials;
}

// A temporary file WriteFileAtomic left for a ".json" file. (A key's own file never matches: it
// ends in ".json".)
static bool IsTemporaryJson(const std::string& name) {
    size_t at = name.rfind(".json.tmp-");
    return at != std::string::npos && kit::IsAtomicFileTemporary(name, name.substr(0, at + 5));
}

void Store::RemoveStaleTemporaries() const {
    for (const char* dir : {"/tokens", "/seals"}) {
        std::string path = m_root + dir;
        bool removed = false;
        for (const std::string& name : ListDirectory(path))
            if (IsTemporaryJson(name) && platform::RemoveFile(path + "/" + name)) removed = true;
        if (removed) FsyncDirectory(path);
    }
}

void Store::Remove(const std::string& serial) const {
    if (!ValidSerial(serial)) return;
    std::string path = TokenPath(serial);
    if (platform::RemoveFile(path)) FsyncDirectory(m_root + "/tokens");
}

std::vector<std::string> Store::Serials() const {
    std::vector<std::string> serials;
    for (const std::string& name : ListDirectory(m_root + "/tokens")) {
        const std::string suffix = ".json";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            std::string serial = name.substr(0, name.size() - suffix.size());
            if (ValidSerial(serial)) serials.push_back(serial);
        }
    }
    return serials;
}

std::string Store::StoreKeyPath() const { return m_root + "/store.key"; }

bool Store::ReadStoreKey(Bytes& key) const {
    std::string text;
    if (!ReadWholeFile(StoreKeyPath(), text)) {
        if (errno == ENOENT) return false;
        throw std::runtime_error("cannot read the store key " + StoreKeyPath() + ": " + std::strerror(errno));
    }
    if (text.size() != 32) throw std::runtime_error("store key " + StoreKeyPath() + " is damaged");
    key.assign(text.begin(), text.end());
    return true;
}

Bytes Store::StoreKey() const {
    Bytes key;
    if (ReadStoreKey(key)) return key;
    size_t keys = Serials().size();
    if (keys > 0)
        throw std::runtime_error("the store key " + StoreKeyPath() + " is missing but the store holds " +
                                 std::to_string(keys) +
                                 " key(s): restore the file from a backup, or make a new one with "
                                 "\"softkey store init --force\" (the keys stored now then stay unusable)");
    return CreateStoreKey();
}

void Store::InitStoreKey(bool force) const {
    Bytes key;
    if (ReadStoreKey(key)) throw std::runtime_error("the store key " + StoreKeyPath() + " exists already");
    size_t keys = Serials().size();
    if (keys > 0 && !force)
        throw std::runtime_error("the store holds " + std::to_string(keys) +
                                 " key(s) that a new store key cannot open: restore " + StoreKeyPath() +
                                 " from a backup, or add --force to make a new one anyway");
    CreateStoreKey();
}

Bytes Store::CreateStoreKey() const {
    std::string path = StoreKeyPath();
    std::string text;
    Prepare();
    Bytes key(32);
    if (!RandomBytes(key.data(), key.size())) throw std::runtime_error("no random bytes");
    // Written aside, then linked into place: a concurrent creator's key is never replaced.
    std::string tmp = path + ".new-" + RandomHex(6);
    WriteFileAtomic(tmp, std::string(key.begin(), key.end()), 0600);
    bool exists = false;
    bool linked = platform::LinkFile(tmp, path, exists);
    platform::RemoveFile(tmp);
    if (!linked && !exists) throw std::runtime_error("cannot create the store key " + path);
    FsyncDirectory(m_root);
    if (!ReadWholeFile(path, text) || text.size() != 32) throw std::runtime_error("store key " + path + " is damaged");
    return Bytes(text.begin(), text.end());
}

KeyPair SealKeyPair(const Store& store, KeyAlg alg, int bits, const Bytes& publicSpki,
                    const Bytes& privatePkcs8) {
    KeyPair pair;
    pair.alg = alg;
    pair.bits = bits;
    pair.publicKey = publicSpki;
    pair.sealedPrivate = Seal(store.StoreKey(), privatePkcs8);
    return pair;
}

bool ValidSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > 31 || serial[0] == '.') return false;
    for (char c : serial) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

}  // namespace softkey
