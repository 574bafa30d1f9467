#include "cloud/time_stamp_query.h"

#include <openssl/objects.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "api/digests.h"
#include "platform/process_fork.h"

namespace cloud {

namespace {

constexpr unsigned char kSequence = 0x30, kInteger = 0x02, kOctetString = 0x04, kNull = 0x05,
                        kBoolean = 0x01, kObject = 0x06;

}  // namespace

const EVP_MD* TimeStampDigest(bool sm2) { return sm2 ? digests::Sm3() : digests::Sha1(); }

namespace {

// Random bytes for nonces, drawn from OpenSSL a block at a time: one draw serves many requests.
// Every byte is handed out once; a process made by fork() starts without the parent's block,
// so parent and child never send the same nonce.
constexpr size_t kNonceBlock = 32 * kTimeStampNonceLength;

struct NonceBytes {
    std::mutex mutex;
    unsigned char block[kNonceBlock];
    size_t used = kNonceBlock;
};

NonceBytes& TheNonceBytes();

void HoldNonceBytes() { TheNonceBytes().mutex.lock(); }
void ReleaseNonceBytes() { TheNonceBytes().mutex.unlock(); }
void DropNonceBytesInChild() {
    NonceBytes& bytes = TheNonceBytes();
    OPENSSL_cleanse(bytes.block, sizeof bytes.block);
    bytes.used = kNonceBlock;
    bytes.mutex.unlock();
}

NonceBytes& TheNonceBytes() {
    // Never destroyed: requests on other threads may still draw while the process exits.
    static NonceBytes* const bytes = [] {
        auto* made = new NonceBytes;
        platform::AtFork(HoldNonceBytes, ReleaseNonceBytes, DropNonceBytesInChild);
        return made;
    }();
    return *bytes;
}

// The next `length` unused random bytes; false when the random source fails.
bool TakeRandomBytes(unsigned char* out, size_t length) {
    NonceBytes& bytes = TheNonceBytes();
    std::lock_guard<std::mutex> hold(bytes.mutex);
    if (kNonceBlock - bytes.used < length) {
        if (RAND_bytes(bytes.block, static_cast<int>(kNonceBlock)) != 1) return false;
        bytes.used = 0;
    }
    std::memcpy(out, bytes.block + bytes.used, length);
    OPENSSL_cleanse(bytes.block + bytes.used, length);
    bytes.used += length;
    return true;
}

}  // namespace

bool DrawTimeStampNonce(unsigned char (&nonce)[kTimeStampNonceLength]) {
    // The top bit dropped, every first byte 0x01..0x7F stays as likely as the others; only
    // a zero byte is drawn again.
    do {
        if (!TakeRandomBytes(nonce, kTimeStampNonceLength)) return false;
        nonce[0] &= 0x7F;
    } while (nonce[0] == 0);
    return true;
}

ByteArray TimeStampQueryDer(const EVP_MD* md, const unsigned char* digest, size_t digestLength,
                            const unsigned char (&nonce)[kTimeStampNonceLength]) {
    const ASN1_OBJECT* oid = md ? OBJ_nid2obj(EVP_MD_get_type(md)) : nullptr;
    const int oidLength = oid ? OBJ_length(oid) : 0;
    const unsigned char* oidBytes = oid ? OBJ_get0_data(oid) : nullptr;
    // Every length stays below 128, so each takes one byte.
    const size_t algorithm = 2 + static_cast<size_t>(oidLength) + 2;  // OID and NULL
    const size_t imprint = 2 + algorithm + 2 + digestLength;
    const size_t body = 3 + 2 + imprint + 2 + kTimeStampNonceLength + 3;
    if (!oidBytes || oidLength <= 0 || oidLength > 32 || !digest || digestLength == 0 ||
        digestLength > EVP_MAX_MD_SIZE || body > 127)
        return ByteArray();
    std::vector<unsigned char> der;
    der.reserve(2 + body);
    auto put = [&der](std::initializer_list<size_t> bytes) {
        for (size_t b : bytes) der.push_back(static_cast<unsigned char>(b));
    };
    put({kSequence, body, kInteger, 1, 1});
    put({kSequence, imprint, kSequence, algorithm, kObject, static_cast<size_t>(oidLength)});
    der.insert(der.end(), oidBytes, oidBytes + oidLength);
    put({kNull, 0, kOctetString, digestLength});
    der.insert(der.end(), digest, digest + digestLength);
    put({kInteger, kTimeStampNonceLength});
    der.insert(der.end(), nonce, nonce + kTimeStampNonceLength);
    put({kBoolean, 1, 0xFF});
    return ByteArray(der.data(), static_cast<unsigned long>(der.size()));
}

ByteArray TimeStampQueryFor(const ByteArray& data, bool sm2) {
    const EVP_MD* md = TimeStampDigest(sm2);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    static const unsigned char kNothing[1] = {0};
    unsigned char nonce[kTimeStampNonceLength];
    if (EVP_Digest(data.data() ? data.data() : kNothing, static_cast<size_t>(data.length()), digest, &digestLength,
                   md, nullptr) != 1 ||
        !DrawTimeStampNonce(nonce))
        return ByteArray();
    return TimeStampQueryDer(md, digest, digestLength, nonce);
}

}  // namespace cloud
