// Whether a signer's certificate chains to a trusted CA certificate, decided as
// `openssl cms -verify` decides it.
#pragma once

#include <openssl/x509.h>

#include <string>

namespace tessal_tool {

class TrustStore {
public:
    // Trusts the library's built-in CA certificates and those of `caFile` (PEM; none when
    // empty). Throws std::runtime_error when the file gives no certificate.
    explicit TrustStore(const std::string& caFile);
    ~TrustStore();
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;

    // Verifies the chain of `signer` now, for S/MIME signing, with `untrusted` (the signature's
    // own certificates) as intermediates. Empty when trusted, else why not.
    std::string WhyUntrusted(X509* signer, STACK_OF(X509) * untrusted) const;

private:
    X509_STORE* m_store = nullptr;
};

// A certificate name in one line: "C=CN, O=UniTrust, CN=SHECA G2".
std::string NameText(const X509_NAME* name);

}  // namespace tessal_tool
