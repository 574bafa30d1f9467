#include "signer_trust.h"

#include <openssl/bio.h>
#include <openssl/err.h>

#include <stdexcept>

#include "tessal/ca_list.h"

namespace tessal_tool {

TrustStore::TrustStore(const std::string& caFile) : m_store(X509_STORE_new()) {
    if (!m_store) throw std::runtime_error("out of memory");
    for (const auto& entry : CAList::getInstance().m_caMap)
        if (entry.second && entry.second->getX509())
            X509_STORE_add_cert(m_store, entry.second->getX509());
    if (!caFile.empty() && X509_STORE_load_file(m_store, caFile.c_str()) != 1) {
        ERR_clear_error();
        X509_STORE_free(m_store);
        throw std::runtime_error("no CA certificate could be read from " + caFile);
    }
}

TrustStore::~TrustStore() { X509_STORE_free(m_store); }

std::string TrustStore::WhyUntrusted(X509* signer, STACK_OF(X509) * untrusted) const {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (!ctx || X509_STORE_CTX_init(ctx, m_store, signer, untrusted) != 1) {
        X509_STORE_CTX_free(ctx);
        ERR_clear_error();
        return "the chain could not be checked";
    }
    // The purpose `openssl cms -verify` checks a signer's certificate for.
    X509_STORE_CTX_set_default(ctx, "smime_sign");
    std::string why;
    if (X509_verify_cert(ctx) != 1)
        why = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
    X509_STORE_CTX_free(ctx);
    ERR_clear_error();
    return why;
}

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio) return "";
    X509_NAME_print_ex(bio, name, 0,
                       (XN_FLAG_SEP_CPLUS_SPC | ASN1_STRFLGS_RFC2253) & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(n > 0 ? n : 0));
    BIO_free(bio);
    return text;
}

}  // namespace tessal_tool
