#include "base64.h"

#include <openssl/evp.h>

#include "kit/hex.h"

std::string Base64Encode(const std::string& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(data.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

bool Base64Decode(const std::string& text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    std::string decoded(text.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&decoded[0]),
                            reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return false;
    size_t padding = text[text.size() - 1] == '=' ? (text[text.size() - 2] == '=' ? 2 : 1) : 0;
    decoded.resize(static_cast<size_t>(n) - padding);
    out = decoded;
    return true;
}

std::string LowerHex(const std::string& data) { return kit::HexText(data); }
