// A host of libtessal.dll, built like users build theirs (public headers, the DLL, OpenSSL),
// that signs on a software key and writes what it made for a verifier on the other side:
//   tessal_signing_host p7 OUTDIR SERIAL     PKCS#7 of content.txt (attached.p7, detached.p7),
//                                             the time-stamp token it carries (token.der) and the
//                                             signature value the token stamps (signature.bin)
//   tessal_signing_host seal OUTDIR SERIAL   an SM2 signature (seal.sig, DER) of seal.txt
// The key's PIN is "12345678". Exits 0 when everything was made, else prints why and exits 1.
#include <tessal/tessal.h>

#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "tessal_signing_host: %s: %s\n", what.c_str(), ZYKGetLastError().c_str());
    return 1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

std::string Unbase64(const std::string& text) {
    std::string out(3 * (text.size() / 4) + 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return std::string();
    size_t padding = 0;
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

std::string AsnBytes(const ASN1_STRING* s) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), static_cast<size_t>(ASN1_STRING_length(s)));
}

// The time-stamp token of the first signer and the signature value it stamps.
bool WriteTimeStamp(const std::string& der, const std::string& dir) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    if (!p7) return false;
    bool ok = false;
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
    PKCS7_SIGNER_INFO* si = signers ? sk_PKCS7_SIGNER_INFO_value(signers, 0) : nullptr;
    ASN1_TYPE* token = si ? PKCS7_get_attribute(si, NID_id_smime_aa_timeStampToken) : nullptr;
    if (token && token->type == V_ASN1_SEQUENCE)
        ok = WriteFile(dir + "/token.der", AsnBytes(token->value.sequence)) &&
             WriteFile(dir + "/signature.bin", AsnBytes(si->enc_digest));
    PKCS7_free(p7);
    return ok;
}

int SignPkcs7(const std::string& dir) {
    std::string content = Base64(ReadFile(dir + "/content.txt"));
    std::string attached, detached;
    if (!ZYKSignP7(content, attached, 0)) return Fail("attached PKCS#7");
    if (!ZYKSignP7(content, detached, 1)) return Fail("detached PKCS#7");
    if (!ZYKVerifySignData(content, detached, "")) return Fail("the library's own verification");
    std::string detachedDer = Unbase64(detached);
    if (!WriteFile(dir + "/attached.p7", Unbase64(attached)) || !WriteFile(dir + "/detached.p7", detachedDer))
        return Fail("writing the signatures");
    if (!WriteTimeStamp(detachedDer, dir)) return Fail("the signature carries no time-stamp token");
    return 0;
}

int SignSeal(const std::string& dir) {
    std::string signature;
    if (!ZYKSignSeal(Base64(ReadFile(dir + "/seal.txt")), signature)) return Fail("SM2 seal signature");
    if (!WriteFile(dir + "/seal.sig", Unbase64(signature))) return Fail("writing the seal signature");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tessal_signing_host p7|seal OUTDIR SERIAL\n");
        return 2;
    }
    const std::string mode = argv[1], dir = argv[2];
    std::string serial = argv[3];
    if (!ZYKChangeCurrentDeviceId(serial)) return Fail("no key " + serial);
    if (ZYKVerifyPin("12345678", serial) != -1) return Fail("PIN of " + serial);
    if (mode == "p7") return SignPkcs7(dir);
    if (mode == "seal") return SignSeal(dir);
    std::fprintf(stderr, "tessal_signing_host: unknown mode %s\n", mode.c_str());
    return 2;
}
