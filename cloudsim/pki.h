// The simulator's certificates: a test CA, the HTTPS server's certificate and a time-stamping
// certificate, created in the state directory on first start and reused afterwards.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

struct Pki {
    X509* ca = nullptr;
    EVP_PKEY* caKey = nullptr;
    X509* server = nullptr;
    EVP_PKEY* serverKey = nullptr;
    X509* tsa = nullptr;
    EVP_PKEY* tsaKey = nullptr;
    std::string serverCertPath, serverKeyPath;
};

// Frees what LoadOrCreatePki loaded.
void FreePki(Pki& pki);

// Loads the certificates of `stateDir`, creating what is missing. Throws on failure.
Pki LoadOrCreatePki(const std::string& stateDir);
