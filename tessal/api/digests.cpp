#include "api/digests.h"

namespace digests {
namespace {

// The digest named, fetched once and kept for the life of the process; the built-in object
// when the providers do not have it.
const EVP_MD* Fetched(const char* name, const EVP_MD* builtin) {
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    return md ? md : builtin;
}

}  // namespace

const EVP_MD* Md5() {
    static const EVP_MD* const md = Fetched("MD5", EVP_md5());
    return md;
}

const EVP_MD* Sha1() {
    static const EVP_MD* const md = Fetched("SHA1", EVP_sha1());
    return md;
}

const EVP_MD* Sha256() {
    static const EVP_MD* const md = Fetched("SHA256", EVP_sha256());
    return md;
}

const EVP_MD* Sm3() {
    static const EVP_MD* const md = Fetched("SM3", EVP_sm3());
    return md;
}

}  // namespace digests
