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

    // Holds the store-wide lock (between threads and processes) while it lives. Every writer of
    // the store's key files holds it exclusively, so taking it that way also removes the
    // temporary files that killed writers left behind.
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
    // Throws std::runtime_error, naming the key, when the token is missing, its file is damaged,
    // or its record fails the authentication check: such a token is never used.
    Token Load(const std::string& serial) const;
    // Writes the token's record with its authentication tag.
    void Save(const Token& token) const;
    void Remove(const std::string& serial) const;
    std::vector<std::string> Serials() const;

    // The 32-byte key that seals private keys and authenticates token records. A store without
    // keys gets a random one on first use; a store that holds keys but lost it is refused.
    Bytes StoreKey() const;
    // Makes a new store key where there is none. Refused when one exists, and (unless `force`)
    // when the store holds keys, whose records and private keys the new key cannot open.
    void InitStoreKey(bool force) const;
    // Tags the records of keys written before records were tagged; returns their serials.
    // Caller holds the exclusive lock.
    std::vector<std::string> TagUntaggedRecords() const;

    // Creates the store's folders if missing.
    void Prepare() const;

private:
    std::string StoreKeyPath() const;
    bool ReadStoreKey(Bytes& key) const;
    Bytes CreateStoreKey() const;
    DecodedToken Decode(const std::string& serial) const;
    void RemoveStaleTemporaries() const;

    std::string m_root;
};

// A key pair whose private half is sealed under the store key.
KeyPair SealKeyPair(const Store& store, KeyAlg alg, int bits, const Bytes& publicSpki,
                    const Bytes& privatePkcs8);

// Serial numbers are 1 to 31 characters of letters, digits, ".", "_" and "-".
bool ValidSerial(const std::string& serial);

}  // namespace softkey
