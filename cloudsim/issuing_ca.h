// The certification authorities behind the issuance service: an RSA CA for RSA requests and an
// SM2 CA for SM2 requests, created in the state directory on first start.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

class IssuingCa {
public:
    // Loads or creates issuing-rsa-ca.pem/.key and issuing-sm2-ca.pem/.key. Throws on failure.
    explicit IssuingCa(const std::string& stateDir);
    ~IssuingCa();
    IssuingCa(const IssuingCa&) = delete;
    IssuingCa& operator=(const IssuingCa&) = delete;

    // Parses a DER PKCS#10 request and checks its signature: RSA with SHA-256, or SM2 with SM3
    // and the identifier "1234567812345678". Null, with the reason in `why`, otherwise.
    X509_REQ* VerifiedRequest(const std::string& der, std::string& why) const;
    // A signing certificate (DER) for the request's subject and key; empty on failure.
    std::string IssueSigning(X509_REQ* request) const;
    // A fresh encryption key pair of the request's algorithm: its certificate (DER) and the
    // private key enveloped to the request's key (an SM2 ENVELOPEDKEYBLOB, or the RSA envelope).
    bool IssueEncryption(X509_REQ* request, std::string& certDer, std::string& envelope) const;

    // The two CA certificates (owned by this object).
    X509* RsaCertificate() const { return m_rsaCa; }
    X509* Sm2Certificate() const { return m_sm2Ca; }

private:
    std::string Issue(X509_REQ* request, EVP_PKEY* key, const char* keyUsage) const;

    X509* m_rsaCa = nullptr;
    EVP_PKEY* m_rsaKey = nullptr;
    X509* m_sm2Ca = nullptr;
    EVP_PKEY* m_sm2Key = nullptr;
};
