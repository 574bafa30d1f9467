// The status answers that need no cloud call: the maker's own CA, test and tamper-evidence
// certificates.
#include <gtest/gtest.h>

#include "api/encodings.h"
#include "cert_factory.h"
#include "certs/cert_status_rules.h"
#include "tessal/ca_list.h"

using namespace test_support;

namespace {

CertInfo Issued(const std::string& issuerCN, const std::string& subjectCN, bool sm2 = false) {
    EVP_PKEY* key = sm2 ? NewSm2Key() : NewRsaKey(2048);
    CertSpec spec;
    spec.issuerCN = issuerCN;
    spec.subjectCN = subjectCN;
    X509* cert = MakeCertificate(spec, key, key);
    CertInfo info(cert);
    X509_free(cert);
    EVP_PKEY_free(key);
    return info;
}

TEST(CertStatusRules, TheMakersOwnCaInAnyLetterCase) {
    for (const char* issuer : {"LanTrove Root CA", "LANTROVE", "ca lantrove sm2"}) {
        CertInfo info = Issued(issuer, "Holder");
        EXPECT_TRUE(IsIssuedByOwnCa(info)) << issuer;
        EXPECT_EQ(LocalStatusText(info), kTestCertificateText) << issuer;
    }
    CertInfo other = Issued("Lan Trove CA", "Holder");
    EXPECT_FALSE(IsIssuedByOwnCa(other));
    EXPECT_EQ(LocalStatusText(other), "");
}

TEST(CertStatusRules, ShecaTestCertificatesByTheirSubjectName) {
    CertInfo test = Issued("SHECA G2", "张三测试");
    EXPECT_EQ(LocalStatusText(test), kTestCertificateText);
    EXPECT_FALSE(IsIssuedByOwnCa(test));
    CertInfo real = Issued("SHECA G2", "张三");
    EXPECT_EQ(LocalStatusText(real), "");  // the cloud decides
    CertInfo otherIssuer = Issued("Other CA", "张三测试");
    EXPECT_EQ(LocalStatusText(otherIssuer), "");
}

TEST(CertStatusRules, TamperEvidenceCertificatesOfTheirAlgorithm) {
    for (bool sm2 : {false, true}) {
        CertInfo ca(Base64Decode(sm2 ? CAList::m_sm2TamperCert : CAList::m_rsaTamperCert));
        EVP_PKEY* caKey = LoadPemKey(std::string(TESSAL_BUILTIN_CERTS_DIR) + "/test-only-keys/tamper-ca-" +
                                     (sm2 ? "sm2" : "rsa") + ".key");
        EVP_PKEY* key = sm2 ? NewSm2Key() : NewRsaKey(2048);
        CertSpec spec;
        spec.issuerCN = ca.getCN();
        spec.authorityKeyIdHex = ca.m_subjectKeyId;
        X509* cert = MakeCertificate(spec, key, caKey);
        CertInfo issued(cert);
        EXPECT_EQ(StatusAlgorithmText(issued), sm2 ? "SM2" : "RSA");
        EXPECT_EQ(LocalStatusText(issued), kTamperEvidenceText) << sm2;
        X509_free(cert);
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(key);
    }
    CertInfo empty((ByteArray()));
    EXPECT_EQ(LocalStatusText(empty), "");
}

}  // namespace
