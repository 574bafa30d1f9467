#include "tool_io.h"

#include <openssl/evp.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tessal_tool {

namespace {
FILE* g_output = stdout;
}  // namespace

void SeparateOutput() {
    int own = dup(STDOUT_FILENO);
    FILE* stream = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!stream) return;  // then the library's lines stay mixed in
    dup2(STDERR_FILENO, STDOUT_FILENO);
    g_output = stream;
}

FILE* Output() { return g_output; }

namespace {
bool g_stdinRead = false;

std::string ReadStandardInput() {
    if (g_stdinRead) throw std::runtime_error("standard input (\"-\") can be only one of the inputs");
    g_stdinRead = true;
    std::string data;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.append(chunk, n);
    if (std::ferror(stdin)) throw std::runtime_error("cannot read standard input");
    return data;
}
}  // namespace

std::string ReadFile(const std::string& path) {
    if (path == "-") return ReadStandardInput();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    if (!in || !(data << in.rdbuf())) {
        // An empty file reads as nothing at all, which is not a failure.
        if (in && in.peek() == std::char_traits<char>::eof()) return "";
        throw std::runtime_error("cannot read " + path);
    }
    return data.str();
}

void WriteOutput(const std::string& path, const std::string& data) {
    if (path == "-") {
        if (std::fwrite(data.data(), 1, data.size(), Output()) != data.size() || std::fflush(Output()) != 0)
            throw std::runtime_error("cannot write to standard output");
        return;
    }
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot write " + path);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}

std::string Base64Encode(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string Base64Decode(const std::string& text, const std::string& what) {
    std::string compact;
    for (char c : text)
        if (c != '\n' && c != '\r') compact += c;
    if (compact.size() % 4 != 0) throw std::runtime_error(what + " is not Base64");
    std::string bytes(compact.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                            reinterpret_cast<const unsigned char*>(compact.data()), static_cast<int>(compact.size()));
    if (n < 0) throw std::runtime_error(what + " is not Base64");
    size_t padding = compact.size() - compact.find_last_not_of('=') - 1;  // decoded as zero bytes
    bytes.resize(static_cast<size_t>(n) - std::min<size_t>(padding, 2));
    return bytes;
}

std::string CertificatePem(const std::string& der) {
    std::string b64 = Base64Encode(der), pem = "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\n";
    return pem + "-----END CERTIFICATE-----\n";
}

Field::Field(std::string label, bool value)
    : label(std::move(label)), text(value ? "yes" : "no"), kind(Kind::Boolean), integer(value) {}

Field::Field(std::string label, long long value)
    : label(std::move(label)), text(std::to_string(value)), kind(Kind::Integer), integer(value) {}

Field Field::Date(std::string label, std::string text, std::string iso) {
    Field f(std::move(label), std::move(text));
    f.kind = Kind::Date;
    f.iso = std::move(iso);
    return f;
}

std::string JsonKey(const std::string& label) {
    std::string key;
    bool upper = false;
    for (char c : label) {
        if (c == ' ' || c == '-' || c == '_') {
            upper = !key.empty();
            continue;
        }
        key += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return key;
}

std::string FieldsText(const Fields& fields) {
    std::string text;
    for (const Field& f : fields) text += f.label + ": " + f.text + "\n";
    return text;
}

std::string FieldsJson(const Fields& fields) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    for (const Field& f : fields) {
        w.Key(JsonKey(f.label).c_str());
        switch (f.kind) {
            case Field::Kind::Boolean:
                w.Bool(f.integer != 0);
                break;
            case Field::Kind::Integer:
                w.Int64(f.integer);
                break;
            case Field::Kind::Date:
                // A date the certificate does not hold is null rather than an empty text.
                if (f.iso.empty())
                    w.Null();
                else
                    w.String(f.iso.c_str(), static_cast<rapidjson::SizeType>(f.iso.size()));
                break;
            case Field::Kind::String:
                w.String(f.text.c_str(), static_cast<rapidjson::SizeType>(f.text.size()));
                break;
        }
    }
    w.EndObject();
    return std::string(buffer.GetString()) + "\n";
}

}  // namespace tessal_tool
