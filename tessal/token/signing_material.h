// What every signature with the key's signing certificate reuses: its public key bound to the
// key-backed engine and its chain of built-in CA certificates. Made when first needed and
// dropped together with the certificate.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "tessal/cert_info.h"
#include "token/rsa_signed_data.h"

class SigningMaterial {
public:
    SigningMaterial() = default;
    ~SigningMaterial() { Reset(); }
    SigningMaterial(const SigningMaterial&) = delete;
    SigningMaterial& operator=(const SigningMaterial&) = delete;

    // Forgets everything; the next use builds it again from the certificate given then.
    void Reset();
    // The built-in CA certificates above `certificate`, issuer first (owned by the CA list).
    const std::vector<X509*>& Chain(CertInfo& certificate);
    // The certificate's public key with its private-key step on the key; owned here, null when
    // it cannot be made. A caller that keeps it past its hold on the key takes a reference.
    EVP_PKEY* RsaKey(X509* certificate);
    // The certificate and its chain as signed data carries them, encoded once; null when one
    // cannot be encoded.
    const KnownCertificates* Certificates(X509* certificate, CertInfo& info);
    EVP_PKEY* Sm2Key(X509* certificate);
    // Everything an RSA signature's signed data takes from the certificate; false when a part
    // cannot be made.
    bool Rsa(X509* certificate, CertInfo& info, RsaSigner& signer);

private:
    bool m_chainKnown = false;
    std::vector<X509*> m_chain;
    bool m_certificatesKnown = false;
    KnownCertificates m_certificates;
    der::Bytes m_issuerAndSerial;  // empty until made
    EVP_PKEY* m_rsaKey = nullptr;
    EVP_PKEY* m_sm2Key = nullptr;
};
