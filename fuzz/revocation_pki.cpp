#include "revocation_pki.h"

#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>

namespace {

X509Ptr ReadPem(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    X509Ptr certificate(file ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr);
    if (file) std::fclose(file);
    if (!certificate) {
        std::fprintf(stderr, "%s is missing or unreadable: scripts/fuzz.sh makes it\n", path.c_str());
        std::exit(2);
    }
    return certificate;
}

FuzzAuthority ReadAuthority(const std::string& dir) {
    FuzzAuthority authority;
    authority.issuer = ReadPem(dir + "/ca.pem");
    authority.issuerBase64 = Base64OfDer(DerOf(authority.issuer.get(), i2d_X509));
    authority.leaf = ReadPem(dir + "/leaf.pem");
    return authority;
}

}  // namespace

const std::vector<FuzzAuthority>& FuzzAuthorities() {
    static const std::vector<FuzzAuthority> authorities = [] {
        const char* dir = std::getenv("FUZZ_PKI_DIR");
        std::string root = dir && *dir ? dir : KIT_FUZZ_PKI_DIR;
        std::vector<FuzzAuthority> both;
        both.push_back(ReadAuthority(root + "/rsa"));
        both.push_back(ReadAuthority(root + "/sm2"));
        return both;
    }();
    return authorities;
}
