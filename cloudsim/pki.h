// The simulator's certificates: a test CA, the HTTPS server's certificate and a time-stamping
// certificate, created in the state directory on first start and reused afterwards.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct Pki {
    X509* ca = nullptr;
    EVP_PKEY* caKey = nullptr;
    X509* server = nullptr;
    EVP_PKEY* serverKey = nullptr;
    X509* tsa = nullptr;
    EVP_PKEY* tsaKey = nullptr;
    std::string serverCertPath, serverKeyPath;
};

using Extensions = std::vector<std::pair<int, const char*>>;

// A certificate for `key` with `subject`, issued by `issuer` (self-signed when null) and signed
// with `issuerKey`: SHA-256 for RSA, SM3 with the identifier "1234567812345678" for SM2.
// Throws on failure.
X509* IssueCertificate(const X509_NAME* subject, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                       const Extensions& extensions);
// The same with the subject C=CN, O=Cloudsim, CN=`cn`.
X509* Issue(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, const Extensions& extensions);

// Loads `certPath` and `keyPath`; when either is missing, first makes a key with `newKey` and
// its certificate with `issue` and writes both. Throws on failure.
void LoadOrCreate(const std::string& certPath, const std::string& keyPath, const std::function<EVP_PKEY*()>& newKey,
                  const std::function<X509*(EVP_PKEY*)>& issue, X509*& cert, EVP_PKEY*& key);

// Frees what LoadOrCreatePki loaded.
void FreePki(Pki& pki);

// Loads the certificates of `stateDir`, creating what is missing. Throws on failure.
Pki LoadOrCreatePki(const std::string& stateDir);
