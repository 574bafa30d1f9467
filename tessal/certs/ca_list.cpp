// CAList: the built-in CA certificates, algorithm names and tamper-evidence CA certificates.
#include "tessal/ca_list.h"

#include "api/compiler.h"
#include "api/encodings.h"
#include "certs/builtin_certs.h"
#include "certs/ca_trust.h"

TESSAL_INIT_PRIORITY(102) std::map<std::string, std::string> CAList::mapAlgInfo = {
    {"1.2.840.113549.1.1.5", "sha1RSA"},     {"1.2.840.10040.4.3", "sha1DSA"},
    {"1.3.14.3.2.29", "sha1RSA"},            {"1.3.14.3.2.15", "shaRSA"},
    {"1.3.14.3.2.13", "sha1DSA"},            {"1.2.840.113549.1.1.11", "sha256RSA"},
    {"1.2.840.113549.1.1.12", "sha384RSA"},  {"1.2.840.113549.1.1.13", "sha512RSA"},
    {"1.2.840.10045.4.1", "sha1ECDSA"},      {"1.2.840.10045.4.3.2", "sha256ECDSA"},
    {"1.2.840.10045.4.3.3", "sha384ECDSA"},  {"1.2.840.10045.4.3.4", "sha512ECDSA"},
    {"1.3.14.3.2.27", "dsaSHA1"},            {"1.2.156.10197.1.501", "SM2"},
};

TESSAL_INIT_PRIORITY(102) std::string CAList::m_rsaTamperCert = kRsaTamperCertBase64;
TESSAL_INIT_PRIORITY(102) std::string CAList::m_sm2TamperCert = kSm2TamperCertBase64;

CAList::CAList() {
    for (const char* text : kBuiltinCaCertificates) {
        CertInfo* cert = new CertInfo(Base64Decode(text));
        std::string name = cert->getCN();
        auto existing = m_caMap.find(name);
        if (existing != m_caMap.end()) delete existing->second;
        m_caMap[name] = cert;
    }
}

CAList::~CAList() {
    for (auto& entry : m_caMap) delete entry.second;
}

CAList& CAList::getInstance() {
    // Never destroyed: a signature still running on another thread at exit reads it.
    static CAList* instance = new CAList;
    return *instance;
}

CertInfo* CAList::GetCACertInfoByName(std::string name) {
    auto it = m_caMap.find(name);
    return it == m_caMap.end() ? nullptr : it->second;
}

std::vector<X509*> BuiltinChainFor(CertInfo& certificate) {
    std::vector<X509*> chain;
    CertInfo* current = &certificate;
    // A built-in CA never repeats: the walk ends at the self-signed root, or at a name loop.
    for (size_t step = 0; step <= kBuiltinCaCertificateCount; ++step) {
        if (current->getCN() == current->getIssuerCN()) break;
        CertInfo* issuer = CAList::getInstance().GetCACertInfoByName(current->getIssuerCN());
        if (!issuer || issuer == current) break;
        chain.push_back(issuer->getX509());
        current = issuer;
    }
    return chain;
}

bool isIssuedByTamperCa(const std::string& authorityKeyId, const std::string& issuerCN,
                        const std::string& algorithmText) {
    CertInfo ca(Base64Decode(algorithmText == "SM2" ? CAList::m_sm2TamperCert : CAList::m_rsaTamperCert));
    if (authorityKeyId.empty()) return issuerCN == ca.getIssuerCN();
    return authorityKeyId == ca.m_subjectKeyId;
}
