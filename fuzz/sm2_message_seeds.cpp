// Seeds of fuzz_sm2_messages made by the library itself: with the attached SM2 key (its
// certificate on the key, PIN 12345678; fuzz/seed_sm2_messages.sh sets it up), the signed
// message of ZYKSignSM2Digest and that of ZYKSignDigest, each alone (for the decoders) and after
// its 32-byte digest (the split the target hands the verification entry point).
//   fuzz_sm2_message_seeds SERIAL DIR
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "api/encodings.h"
#include "tessal/devices.h"
#include "tessal/result.h"
#include "tessal/signing.h"

namespace {

std::string Sm3(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sm3(), nullptr) != 1) return "";
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string Raw(const std::string& base64) {
    ByteArray bytes = Base64Decode(base64);
    return std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.length()));
}

std::string Base64(const std::string& bytes) {
    return Base64Encode(ByteArray(bytes.data(), static_cast<int>(bytes.size())));
}

bool Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

// Writes `message` alone and after `digest`; false when it is empty or cannot be written.
bool WriteSeeds(const std::string& dir, const std::string& name, const std::string& digest,
                const std::string& message) {
    return !message.empty() && Write(dir + "/" + name, message) && Write(dir + "/" + name + "-after-digest", digest + message);
}

int Fail(const char* step) {
    std::fprintf(stderr, "fuzz_sm2_message_seeds: %s failed: %s\n", step, ZYKGetLastError().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_sm2_message_seeds SERIAL DIR\n");
        return 2;
    }
    const std::string serial = argv[1], dir = argv[2];
    if (ZYKVerifyPin("12345678", serial) != -1) return Fail("PIN");

    const std::string digest = Sm3("a document to sign");
    std::string message;
    if (!ZYKSignSM2Digest(Base64(digest), message)) return Fail("ZYKSignSM2Digest");
    if (!WriteSeeds(dir, "digest-message", digest, Raw(message))) return Fail("writing");

    // ZYKSignDigest signs its bytes as the content of the message: the digest is of those bytes.
    std::string content = Base64(digest);
    if (!ZYKSignDigest(content, message)) return Fail("ZYKSignDigest");
    if (!WriteSeeds(dir, "content-message", Sm3(digest), Raw(message))) return Fail("writing");
    return 0;
}
