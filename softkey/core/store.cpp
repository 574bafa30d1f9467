#include "core/store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "core/fs_util.h"
#include "kit/user_dirs.h"
#include "core/softcrypto.h"

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
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) throw std::runtime_error("cannot open the store lock " + path + ": " + std::strerror(errno));
    while (flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            close(m_fd);
            throw std::runtime_error("cannot lock the store " + store.Root());
        }
    }
}

Store::Lock::~Lock() {
    if (m_fd >= 0) close(m_fd);  // closing releases the lock
}

bool Store::Exists(const std::string& serial) const {
    return ValidSerial(serial) && PathExists(TokenPath(serial));
}

Token Store::Load(const std::string& serial) const {
    if (!ValidSerial(serial)) throw std::runtime_error("invalid serial number \"" + serial + "\"");
    std::string text;
    if (!ReadWholeFile(TokenPath(serial), text)) throw std::runtime_error("no key with serial " + serial);
    Token token = DecodeToken(text);
    if (token.serial != serial) throw std::runtime_error("token file of " + serial + " names another key");
    return token;
}

void Store::Save(const Token& token) const {
    if (!ValidSerial(token.serial)) throw std::runtime_error("invalid serial number");
    Prepare();
    WriteFileAtomic(TokenPath(token.serial), EncodeToken(token));
}

void Store::Remove(const std::string& serial) const {
    if (!ValidSerial(serial)) return;
    std::string path = TokenPath(serial);
    if (unlink(path.c_str()) == 0) FsyncDirectory(m_root + "/tokens");
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

Bytes Store::StoreKey() const {
    std::string path = m_root + "/store.key";
    std::string text;
    if (ReadWholeFile(path, text)) {
        if (text.size() != 32) throw std::runtime_error("store key " + path + " is damaged");
        return Bytes(text.begin(), text.end());
    }
    Prepare();
    Bytes key(32);
    if (!RandomBytes(key.data(), key.size())) throw std::runtime_error("no random bytes");
    // Written aside, then linked into place: a concurrent creator's key is never replaced.
    std::string tmp = path + ".new-" + RandomHex(6);
    WriteFileAtomic(tmp, std::string(key.begin(), key.end()), 0600);
    int linked = link(tmp.c_str(), path.c_str());
    unlink(tmp.c_str());
    if (linked != 0 && errno != EEXIST) throw std::runtime_error("cannot create the store key " + path);
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
