#include "token/signing_material.h"

#include "certs/ca_trust.h"
#include "gmcrypto/key_objects.h"

void SigningMaterial::Reset() {
    m_chainKnown = false;
    m_chain.clear();
    m_certificatesKnown = false;
    m_certificates = KnownCertificates();
    m_issuerAndSerial.clear();
    EVP_PKEY_free(m_rsaKey);
    m_rsaKey = nullptr;
    EVP_PKEY_free(m_sm2Key);
    m_sm2Key = nullptr;
}

const std::vector<X509*>& SigningMaterial::Chain(CertInfo& certificate) {
    if (!m_chainKnown) {
        m_chain = BuiltinChainFor(certificate);
        m_chainKnown = true;
    }
    return m_chain;
}

const KnownCertificates* SigningMaterial::Certificates(X509* certificate, CertInfo& info) {
    if (!m_certificatesKnown) {
        std::vector<X509*> all{certificate};
        for (X509* ca : Chain(info))
            if (ca) all.push_back(ca);
        if (!EncodeCertificates(all, m_certificates)) m_certificates = KnownCertificates();
        m_certificatesKnown = true;
    }
    return m_certificates.certificates.empty() ? nullptr : &m_certificates;
}

EVP_PKEY* SigningMaterial::RsaKey(X509* certificate) {
    if (!m_rsaKey) m_rsaKey = KeyBackedRsaFromCertificate(certificate);
    return m_rsaKey;
}

EVP_PKEY* SigningMaterial::Sm2Key(X509* certificate) {
    if (!m_sm2Key) m_sm2Key = KeyBackedSm2FromCertificate(certificate);
    return m_sm2Key;
}

bool SigningMaterial::Rsa(X509* certificate, CertInfo& info, RsaSigner& signer) {
    if (m_issuerAndSerial.empty() && !EncodeIssuerAndSerial(certificate, m_issuerAndSerial)) return false;
    signer.key = RsaKey(certificate);
    signer.issuerAndSerial = &m_issuerAndSerial;
    signer.certificates = Certificates(certificate, info);
    return signer.key && signer.certificates;
}
