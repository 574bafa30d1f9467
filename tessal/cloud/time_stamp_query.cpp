#include "cloud/time_stamp_query.h"

#include <openssl/objects.h>
#include <openssl/rand.h>

#include <vector>

namespace cloud {

namespace {

constexpr unsigned char kSequence = 0x30, kInteger = 0x02, kOctetString = 0x04, kNull = 0x05,
                        kBoolean = 0x01, kObject = 0x06;

// The digest named, fetched from the providers once; the built-in object when that fails.
const EVP_MD* Fetched(const char* name, const EVP_MD* fallback) {
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    return md ? md : fallback;  // kept for the life of the process
}

}  // namespace

const EVP_MD* TimeStampDigest(bool sm2) {
    static const EVP_MD* const sha1 = Fetched("SHA1", EVP_sha1());
    static const EVP_MD* const sm3 = Fetched("SM3", EVP_sm3());
    return sm2 ? sm3 : sha1;
}

bool DrawTimeStampNonce(unsigned char (&nonce)[kTimeStampNonceLength]) {
    // The top bit dropped, every first byte 0x01..0x7F stays as likely as the others; only
    // a zero byte is drawn again.
    do {
        if (RAND_bytes(nonce, static_cast<int>(kTimeStampNonceLength)) != 1) return false;
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
