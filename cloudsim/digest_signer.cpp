#include "digest_signer.h"

#include <openssl/cms.h>
#include <openssl/objects.h>

#include <memory>

std::string SignDigest(const std::string& digest, X509* signer, EVP_PKEY* key) {
    const unsigned int flags = CMS_PARTIAL | CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
        CMS_sign(nullptr, nullptr, nullptr, nullptr, flags), CMS_ContentInfo_free);
    if (!cms || CMS_set_detached(cms.get(), 1) != 1) return std::string();
    CMS_SignerInfo* si = CMS_add1_signer(cms.get(), signer, key, EVP_sha256(), flags);
    if (!si) return std::string();
    // The content itself never reaches this side: both attributes CMS would derive from it are set here.
    if (CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data), -1) != 1 ||
        CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest.data(),
                                    static_cast<int>(digest.size())) != 1 ||
        CMS_SignerInfo_sign(si) != 1)
        return std::string();
    unsigned char* der = nullptr;
    int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length <= 0) return std::string();
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return out;
}
