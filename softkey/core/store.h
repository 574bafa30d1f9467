// The store directory of the software keys: token files, the store key, locking.
#pragma once

#include <string>
#include <vector>

#include "core/model.h"

namespace softkey {

class Store {
public:
    explicit Store(std::string root);
    // $SOFTKEY_STORE, else ~/.softkey.
    static std::string DefaultRoot();

    const std::string& Root() const { return m_root; }
    std::string TokenPath(const std::string& serial) const;
    std::string DevicesDir() const;
    std::string FaultsPath() const;

    // Holds the store-wide lock (between threads and processes) while it lives.
    class Lock {
    public:
        Lock(const Store& store, bool exclusive);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        int m_fd;
    };

    bool Exists(const std::string& serial) const;
    // Throws std::runtime_error when the token is missing or its file is damaged.
    Token Load(const std::string& serial) const;
    void Save(const Token& token) const;
    void Remove(const std::string& serial) const;
    std::vector<std::string> Serials() const;

    // The 32-byte key that seals private keys; created on first use.
    Bytes StoreKey() const;

    // Creates the store's folders if missing.
    void Prepare() const;

private:
    std::string m_root;
};

// A key pair whose private half is sealed under the store key.
KeyPair SealKeyPair(const Store& store, KeyAlg alg, int bits, const Bytes& publicSpki,
                    const Bytes& privatePkcs8);

// Serial numbers are 1 to 31 characters of letters, digits, ".", "_" and "-".
bool ValidSerial(const std::string& serial);

}  // namespace softkey
