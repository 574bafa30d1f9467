// The built-in CA certificates, chain completion and the tamper-evidence test.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <fstream>
#include <sstream>

#include "api/encodings.h"
#include "cert_factory.h"
#include "certs/ca_trust.h"
#include "tessal/ca_list.h"

using namespace test_support;

namespace {

const std::string kBuiltin = TESSAL_BUILTIN_CERTS_DIR;

std::string PemBody(const std::string& path) {
    std::ifstream in(path);
    std::string line, body;
    while (std::getline(in, line))
        if (line.rfind("-----", 0) != 0) body += line;
    return body;
}

TEST(CAList, BuiltInCertificatesByName) {
    CAList& list = CAList::getInstance();
    CertInfo* root = list.GetCACertInfoByName("UCA Root G2");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getIssuerCN(), "UCA Root G2");
    EXPECT_EQ(list.GetCACertInfoByName("uca root g2"), nullptr);
    CertInfo* sub = list.GetCACertInfoByName("SHECA G2");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->getIssuerCN(), "UCA Root G2");
    EXPECT_EQ(sub->getCertAlg(), "sha256RSA");
    EXPECT_EQ(sub->getValidStart().substr(0, 10), "2016/09/07");
    EXPECT_EQ(list.m_caMap.size(), 2u);
    // The embedded texts are the repository's files.
    EXPECT_EQ(sub->getCertBase64Data(), PemBody(kBuiltin + "/dev-standin-sheca-g2.pem"));
    EXPECT_EQ(CAList::m_rsaTamperCert, PemBody(kBuiltin + "/dev-standin-tamper-ca-rsa.pem"));
    EXPECT_EQ(CAList::m_sm2TamperCert, PemBody(kBuiltin + "/dev-standin-tamper-ca-sm2.pem"));
    EXPECT_EQ(CertInfo(Base64Decode(CAList::m_sm2TamperCert)).getCertAlg(), "SM2");
}

TEST(CAList, ChainsAreCompletedFromTheBuiltInCertificates) {
    EVP_PKEY* key = NewRsaKey(2048);
    EVP_PKEY* shecaKey = LoadPemKey(kBuiltin + "/test-only-keys/dev-standin-sheca-g2.key");
    CertSpec spec;
    spec.issuerC = "CN";
    spec.issuerO = "UniTrust";
    spec.issuerCN = "SHECA G2";
    X509* leaf = MakeCertificate(spec, key, shecaKey);
    CertInfo info(leaf);
    std::vector<X509*> chain = BuiltinChainFor(info);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(CertInfo(chain[0]).getCN(), "SHECA G2");
    EXPECT_EQ(CertInfo(chain[1]).getCN(), "UCA Root G2");
    // The chain really verifies with OpenSSL against the built-in root.
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, chain[1]);
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, chain[0]);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, leaf, untrusted);
    EXPECT_EQ(X509_verify_cert(ctx), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);

    spec.issuerCN = "Some Other CA";
    X509* other = MakeCertificate(spec, key, key);
    CertInfo otherInfo(other);
    EXPECT_TRUE(BuiltinChainFor(otherInfo).empty());
    X509_free(leaf);
    X509_free(other);
    EVP_PKEY_free(key);
    EVP_PKEY_free(shecaKey);
}

TEST(CAList, TamperEvidenceIssuerByKeyIdentifierOrName) {
    for (const char* alg : {"RSA", "SM2"}) {
        std::string suffix = std::string(alg) == "SM2" ? "sm2" : "rsa";
        CertInfo ca(Base64Decode(suffix == "sm2" ? CAList::m_sm2TamperCert : CAList::m_rsaTamperCert));
        ASSERT_FALSE(ca.m_subjectKeyId.empty());
        EVP_PKEY* caKey = LoadPemKey(kBuiltin + "/test-only-keys/tamper-ca-" + suffix + ".key");
        EVP_PKEY* key = suffix == "sm2" ? NewSm2Key() : NewRsaKey(2048);
        CertSpec spec;
        spec.issuerCN = ca.getCN();
        spec.authorityKeyIdHex = ca.m_subjectKeyId;
        X509* cert = MakeCertificate(spec, key, caKey);
        CertInfo issued(cert);
        X509_free(cert);
        EXPECT_TRUE(isIssuedByTamperCa(issued.m_authorityKeyId, issued.getIssuerCN(), alg)) << alg;
        EXPECT_TRUE(isIssuedByTamperCa("", ca.getCN(), alg)) << alg;
        EXPECT_FALSE(isIssuedByTamperCa("", "Another CA", alg)) << alg;
        // Same name, other key identifier: a different CA.
        EXPECT_FALSE(isIssuedByTamperCa("0102030405", ca.getCN(), alg)) << alg;
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(key);
    }
    CertInfo rsaCa(Base64Decode(CAList::m_rsaTamperCert));
    EXPECT_FALSE(isIssuedByTamperCa(rsaCa.m_subjectKeyId, rsaCa.getCN(), "SM2"));
}

}  // namespace
