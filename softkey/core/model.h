// What a software key holds: applications with PINs, containers with key pairs and
// certificates, and files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace softkey {

using Bytes = std::vector<uint8_t>;

enum class KeyAlg { Rsa, Sm2 };

struct KeyPair {
    KeyAlg alg = KeyAlg::Sm2;
    int bits = 256;
    Bytes publicKey;      // SubjectPublicKeyInfo, DER
    Bytes sealedPrivate;  // PKCS#8 DER sealed with the store key
};

struct Container {
    std::string name;
    std::optional<KeyPair> signKey;
    std::optional<KeyPair> encKey;
    Bytes signCert;  // DER, empty when none
    Bytes encCert;
};

struct Pin {
    std::string salt;
    std::string hash;  // SHA-256 of salt and PIN, hexadecimal
    uint32_t maxRetry = 6;
    uint32_t remain = 6;
    bool isDefault = true;
};

struct FileEntry {
    std::string name;
    uint32_t readRights = 0xFF;
    uint32_t writeRights = 0xFF;
    Bytes data;  // its size is the file's fixed size
};

struct Application {
    std::string name;
    Pin userPin;
    Pin adminPin;
    uint32_t createFileRights = 0xFF;
    std::vector<Container> containers;
    std::vector<FileEntry> files;

    Container* FindContainer(const std::string& name);
    const Container* FindContainer(const std::string& name) const;
    FileEntry* FindFile(const std::string& name);
    const FileEntry* FindFile(const std::string& name) const;
};

// Device authentication: the key the device checks the caller's answer with, its retry
// counter, and whether creating and deleting applications needs a successful authentication.
struct DevAuth {
    Bytes sealedKey;  // the 16-byte key sealed with the store key; empty: the default key
    uint32_t maxRetry = 10;
    uint32_t remain = 10;
    bool required = false;
};

struct Token {
    std::string serial;
    std::string label;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcdDevice = 0x0100;
    std::string manufacturer = "Softkey";
    std::string product = "Softkey SKF token";
    std::vector<std::string> drivers;  // library file names that may list it; empty: all
    std::vector<Application> apps;
    // Absent in records written before device authentication: the defaults hold.
    std::optional<DevAuth> devAuth;

    Application* FindApp(const std::string& name);
    const Application* FindApp(const std::string& name) const;
};

// PIN hashing with a fresh salt.
Pin MakePin(const std::string& pin, uint32_t retries);
void SetPin(Pin& p, const std::string& pin);
bool PinMatches(const Pin& p, const std::string& pin);

std::string ToBase64(const Bytes& bytes);
// Throws std::runtime_error on malformed text.
Bytes FromBase64(const std::string& text);

// The token's record: its JSON form without the tag, the text the tag authenticates.
std::string EncodeToken(const Token& token);
// The token file: the record's members and then the tag.
std::string EncodeTokenFile(const Token& token, const std::string& tag);

struct DecodedToken {
    Token token;
    unsigned format = 0;  // 1: written before records were tagged (no tag)
    std::string tag;
};
// Throws std::runtime_error on malformed text.
DecodedToken DecodeToken(const std::string& text);

}  // namespace softkey
