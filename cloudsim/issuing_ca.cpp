#include "issuing_ca.h"

#include <openssl/x509v3.h>

#include <stdexcept>

#include "core/envelopes.h"
#include "pki.h"

namespace {

const char kSm2Id[] = "1234567812345678";

bool IsSm2(EVP_PKEY* key) { return key && EVP_PKEY_is_a(key, "SM2"); }

EVP_PKEY* NewSm2Key() { return EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"); }
EVP_PKEY* NewRsaKey() { return EVP_RSA_gen(2048); }

std::string Der(X509* cert) {
    unsigned char* der = nullptr;
    int len = i2d_X509(cert, &der);
    std::string out = len > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(len))
                              : std::string();
    OPENSSL_free(der);
    return out;
}

Extensions CaExtensions() {
    return {{NID_basic_constraints, "critical,CA:TRUE"},
            {NID_key_usage, "critical,keyCertSign,cRLSign"},
            {NID_subject_key_identifier, "hash"}};
}

}  // namespace

IssuingCa::IssuingCa(const std::string& dir) {
    LoadOrCreate(
        dir + "/issuing-rsa-ca.pem", dir + "/issuing-rsa-ca.key", NewRsaKey,
        [](EVP_PKEY* key) {
            return ::Issue("Cloudsim Issuing CA RSA", key, nullptr, key, CaExtensions());
        },
        m_rsaCa, m_rsaKey);
    LoadOrCreate(
        dir + "/issuing-sm2-ca.pem", dir + "/issuing-sm2-ca.key", NewSm2Key,
        [](EVP_PKEY* key) {
            return ::Issue("Cloudsim Issuing CA SM2", key, nullptr, key, CaExtensions());
        },
        m_sm2Ca, m_sm2Key);
}

IssuingCa::~IssuingCa() {
    X509_free(m_rsaCa);
    EVP_PKEY_free(m_rsaKey);
    X509_free(m_sm2Ca);
    EVP_PKEY_free(m_sm2Key);
}

X509_REQ* IssuingCa::VerifiedRequest(const std::string& der, std::string& why) const {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
    if (!req || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        why = "p10 is not a DER certification request";
        X509_REQ_free(req);
        return nullptr;
    }
    EVP_PKEY* key = X509_REQ_get0_pubkey(req);
    int alg = X509_REQ_get_signature_nid(req);
    bool sm2 = IsSm2(key);
    if (sm2 ? alg != NID_SM2_with_SM3
            : (!key || !EVP_PKEY_is_a(key, "RSA") || alg != NID_sha256WithRSAEncryption)) {
        why = "p10 must be signed with SHA-256 and RSA or with SM3 and SM2";
    } else {
        if (sm2) {
            ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>(kSm2Id), 16);
            X509_REQ_set0_distinguishing_id(req, id);
        }
        if (X509_REQ_verify(req, key) == 1) return req;
        why = "p10 signature does not verify";
    }
    X509_REQ_free(req);
    return nullptr;
}

std::string IssuingCa::Issue(X509_REQ* request, EVP_PKEY* key, const char* keyUsage) const {
    bool sm2 = IsSm2(key);
    try {
        X509* cert = IssueCertificate(X509_REQ_get_subject_name(request), key,
                                      sm2 ? m_sm2Ca : m_rsaCa, sm2 ? m_sm2Key : m_rsaKey,
                                      {{NID_basic_constraints, "critical,CA:FALSE"},
                                       {NID_key_usage, keyUsage},
                                       {NID_subject_key_identifier, "hash"},
                                       {NID_authority_key_identifier, "keyid:always"}});
        std::string der = Der(cert);
        X509_free(cert);
        return der;
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string IssuingCa::IssueSigning(X509_REQ* request) const {
    return Issue(request, X509_REQ_get0_pubkey(request),
                 "critical,digitalSignature,nonRepudiation");
}

bool IssuingCa::IssueEncryption(X509_REQ* request, std::string& certDer,
                                std::string& envelope) const {
    EVP_PKEY* signKey = X509_REQ_get0_pubkey(request);
    bool sm2 = IsSm2(signKey);
    EVP_PKEY* encKey = sm2 ? NewSm2Key() : NewRsaKey();
    if (!encKey) return false;
    softkey::Bytes wrapped;
    try {
        wrapped =
            sm2 ? softkey::Sm2Envelope(signKey, encKey) : softkey::RsaEnvelope(signKey, encKey);
    } catch (const std::exception&) {
        wrapped.clear();
    }
    certDer = Issue(request, encKey, "critical,keyEncipherment,dataEncipherment");
    EVP_PKEY_free(encKey);
    envelope.assign(wrapped.begin(), wrapped.end());
    return !certDer.empty() && !envelope.empty();
}
