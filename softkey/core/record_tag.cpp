#include "core/record_tag.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <stdexcept>

#include "core/fs_util.h"

namespace softkey {
namespace {

// Names what the derived key is for, so it never equals the key that seals private keys.
const char kRecordKeyInfo[] = "softkey token record authentication";

Bytes RecordKey(const Bytes& storeKey) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(storeKey.data()),
                                          storeKey.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(kRecordKeyInfo),
                                          sizeof kRecordKeyInfo - 1),
        OSSL_PARAM_construct_end(),
    };
    Bytes key(32);
    bool ok = ctx && EVP_KDF_derive(ctx, key.data(), key.size(), params) == 1;
    EVP_KDF_CTX_free(ctx);
    if (!ok) throw std::runtime_error("cannot derive the record key");
    return key;
}

}  // namespace

std::string RecordTag(const Bytes& storeKey, const std::string& record) {
    if (storeKey.size() != 32) throw std::runtime_error("store key has the wrong size");
    Bytes key = RecordKey(storeKey);
    unsigned char mac[EVP_MAX_MD_SIZE];
    size_t len = 0;
    const unsigned char* done = EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(),
                                          reinterpret_cast<const unsigned char*>(record.data()), record.size(),
                                          mac, sizeof mac, &len);
    OPENSSL_cleanse(key.data(), key.size());
    if (!done) throw std::runtime_error("cannot compute the record tag");
    return HexText(mac, len);
}

bool TagMatches(const std::string& expected, const std::string& stored) {
    return expected.size() == stored.size() && CRYPTO_memcmp(expected.data(), stored.data(), expected.size()) == 0;
}

}  // namespace softkey
