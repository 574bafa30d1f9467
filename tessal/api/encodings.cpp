// Base64, hexadecimal, digests, nonces, splitting and character-set conversions.
#include "api/encodings.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#include "api/digests.h"
#include "kit/code_page.h"
#include "kit/hex.h"
#include "kit/utf8.h"

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string UntilNul(std::string text) {
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

std::string DigestHex(const EVP_MD* md, const unsigned char* data, size_t len) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLen = 0;
    if (EVP_Digest(data, len, digest, &digestLen, md, nullptr) != 1) return std::string();
    return HexEncode(reinterpret_cast<const char*>(digest), static_cast<int>(digestLen));
}

// Big-endian UTF-16 code units into UTF-8, pairing surrogates.
std::string Utf16BeToUtf8(const unsigned char* data, int len) {
    std::string out;
    for (int i = 0; i + 1 < len; i += 2) {
        char32_t unit = (data[i] << 8) | data[i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < len) {
            char32_t low = (data[i + 2] << 8) | data[i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                kit::AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        kit::AppendUtf8(out, unit);
    }
    return out;
}

// Every 12-bit value as its two Base64 characters, so three bytes take two look-ups.
const std::array<uint16_t, 4096>& Base64Pairs() {
    static const std::array<uint16_t, 4096> pairs = [] {
        std::array<uint16_t, 4096> table{};
        for (unsigned v = 0; v < 4096; ++v) {
            const char two[2] = {kBase64Alphabet[v >> 6], kBase64Alphabet[v & 63]};
            std::memcpy(&table[v], two, 2);
        }
        return table;
    }();
    return pairs;
}

}  // namespace

std::string Base64Encode(const ByteArray& bytes) {
    const unsigned char* p = bytes.data();
    size_t n = static_cast<size_t>(bytes.length());
    std::string out((n + 2) / 3 * 4, '=');
    char* o = &out[0];
    const std::array<uint16_t, 4096>& pairs = Base64Pairs();
    size_t i = 0;
    for (; i + 2 < n; i += 3, o += 4) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        std::memcpy(o, &pairs[v >> 12], 2);
        std::memcpy(o + 2, &pairs[v & 4095], 2);
    }
    if (i < n) {  // one or two bytes left; the padding is already in place
        unsigned v = (p[i] << 16) | (n - i == 2 ? p[i + 1] << 8 : 0);
        o[0] = kBase64Alphabet[(v >> 18) & 63];
        o[1] = kBase64Alphabet[(v >> 12) & 63];
        if (n - i == 2) o[2] = kBase64Alphabet[(v >> 6) & 63];
    }
    return out;
}

size_t Base64DecodedLength(const std::string& text) { return text.size() / 4 * 3; }

ByteArray Base64Decode(const std::string& text) {
    // What ByteArray cannot hold is refused before anything is decoded.
    if (Base64DecodedLength(text) > static_cast<size_t>(INT_MAX))
        throw std::length_error("vector too long");
    std::vector<unsigned char> out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned group = 0;
    int count = 0;
    int padding = 0;
    for (unsigned char c : text) {
        int value;
        if (c == '=') {
            value = 0;
            ++padding;
        } else {
            value = Base64Value(c);
            if (value < 0) continue;
        }
        group = (group << 6) | static_cast<unsigned>(value);
        if (++count == 4) {
            int yield = padding >= 3 ? 0 : 3 - padding;
            if (yield > 0) out.push_back(static_cast<unsigned char>(group >> 16));
            if (yield > 1) out.push_back(static_cast<unsigned char>(group >> 8));
            if (yield > 2) out.push_back(static_cast<unsigned char>(group));
            group = 0;
            count = 0;
            padding = 0;
        }
    }
    return ByteArray(out.data(), static_cast<unsigned long>(out.size()));
}

std::string HexEncode(const char* data, int n) {
    return n <= 0 ? std::string() : kit::HexText(data, static_cast<size_t>(n));
}

std::string Md5Hex(ByteArray bytes) {
    return DigestHex(digests::Md5(), bytes.data(), static_cast<size_t>(bytes.length()));
}

std::string HmacSha256Hex(const std::string& data, const std::string& key) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &macLen))
        return std::string();
    return HexEncode(reinterpret_cast<const char*>(mac), static_cast<int>(macLen));
}

std::string RandomHexNonce() {
    auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
    std::mt19937 generator(static_cast<uint32_t>(ticks));
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(generator()));
    return text;
}

std::vector<std::string> SplitString(std::string text, const std::string& delimiter) {
    std::vector<std::string> pieces;
    for (;;) {
        size_t p = text.find(delimiter);
        if (p == std::string::npos || delimiter.empty()) {
            pieces.push_back(text);
            return pieces;
        }
        pieces.push_back(text.substr(0, p));
        text.erase(0, p + delimiter.size());
    }
}

std::wstring Utf8ToWide(const std::string& text) {
    std::string s = UntilNul(text);
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        kit::Utf8Character c = kit::DecodeUtf8(s, i);
        out += static_cast<wchar_t>(c.codePoint);
        i += c.length;
    }
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) kit::AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::string AnsiToUtf8(const std::string& text) {
    return UntilNul(
        kit::ConvertCodePage(UntilNul(text), kit::AnsiCodePage(), "UTF-8", "\xEF\xBF\xBD"));
}

std::string Utf8ToAnsi(const std::string& text) {
    return UntilNul(kit::ConvertCodePage(UntilNul(text), "UTF-8", kit::AnsiCodePage(), "?"));
}

bool Utf8ToAnsiExactly(const std::string& text, std::string& ansi) {
    std::string out;
    if (!kit::ConvertCodePageExactly(UntilNul(text), "UTF-8", kit::AnsiCodePage(), out))
        return false;
    ansi = UntilNul(out);
    return true;
}

std::string WideToAnsi(std::wstring text) { return Utf8ToAnsi(WideToUtf8(text)); }

std::string Asn1StringText(const ASN1_STRING* value) {
    if (value == nullptr) return std::string();
    const unsigned char* data = ASN1_STRING_get0_data(value);
    int len = ASN1_STRING_length(value);
    if (data == nullptr || len <= 0) return std::string();
    switch (ASN1_STRING_type(value)) {
        case V_ASN1_UTF8STRING:
            return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
        case V_ASN1_BMPSTRING:
            return Utf16BeToUtf8(data, len);
        default:
            return std::string(
                reinterpret_cast<const char*>(data),
                strnlen(reinterpret_cast<const char*>(data), static_cast<size_t>(len)));
    }
}

int Asn1StringToUtf8(const ASN1_STRING* value, unsigned char* out, int* outLen, int outCapacity) {
    if (value == nullptr || out == nullptr || outLen == nullptr) return -1;
    std::string text = Asn1StringText(value);
    if (text.size() > static_cast<size_t>(outCapacity < 0 ? 0 : outCapacity)) return -1;
    std::memcpy(out, text.data(), text.size());
    *outLen = static_cast<int>(text.size());
    return 0;
}

int AsciiCaseCompare(const char* a, const char* b) {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        int ca = fold(static_cast<unsigned char>(*a));
        int cb = fold(static_cast<unsigned char>(*b));
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
}
