// The certificate model: parsing, item map, names, times and copies.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <memory>
#include <stdexcept>

#include "api/encodings.h"
#include "cert_factory.h"
#include "tessal/ca_list.h"
#include "tessal/cert_info.h"

using namespace test_support;

namespace {

class CertInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_rsa = NewRsaKey(2048);
        s_sm2 = NewSm2Key();
    }
    static void TearDownTestSuite() {
        EVP_PKEY_free(s_rsa);
        EVP_PKEY_free(s_sm2);
    }
    CertInfo Make(const CertSpec& spec, EVP_PKEY* key = nullptr) {
        X509* cert = MakeCertificate(spec, key ? key : s_rsa, key ? key : s_rsa);
        CertInfo info(Der(cert));
        X509_free(cert);
        return info;
    }
    static EVP_PKEY* s_rsa;
    static EVP_PKEY* s_sm2;
};
EVP_PKEY* CertInfoTest::s_rsa = nullptr;
EVP_PKEY* CertInfoTest::s_sm2 = nullptr;

void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

TEST_F(CertInfoTest, VersionSerialAlgorithmAndItems) {
    CertSpec spec;
    spec.serial = {0x01, 0x0A, 0xFF};
    spec.subjectC = "CN";
    spec.issuerO = "Issuer Org";
    spec.issuerOU = "Unit";
    spec.issuerC = "CN";
    spec.issuerL = "Shanghai";
    spec.issuerST = "SH";
    spec.issuerEmail = "ca@example.test";
    CertInfo info = Make(spec);
    EXPECT_EQ(info.getVersion(), "V3");
    EXPECT_EQ(info.getSN(), "010AFF");
    EXPECT_EQ(info.getCertAlg(), "sha256RSA");
    EXPECT_EQ(info.m_sigAlgNid, NID_sha256WithRSAEncryption);
    EXPECT_EQ(info.getCertItem(1), "V3");
    EXPECT_EQ(info.getCertItem(2), "010AFF");
    EXPECT_EQ(info.getCertItem(3), "sha256RSA");
    EXPECT_EQ(info.getCertItem(4), "CN");
    EXPECT_EQ(info.getCertItem(5), "Issuer Org");
    EXPECT_EQ(info.getCertItem(6), "Unit");
    EXPECT_EQ(info.getCertItem(7), "SH");
    EXPECT_EQ(info.getCertItem(8), "Test CA");
    EXPECT_EQ(info.getCertItem(9), "Shanghai");
    EXPECT_EQ(info.getCertItem(10), "ca@example.test");
    EXPECT_EQ(info.getCertItem(13), "CN");
    EXPECT_EQ(info.getCertItem(14), "");  // no subject organisation
    EXPECT_EQ(info.getCertItem(17), "Holder");
    for (int missing : {0, 15, 16, 18, -1}) EXPECT_THROW(info.getCertItem(missing), std::out_of_range) << missing;
    EXPECT_EQ(info.m_keyUsage, 0xFFFFFFFFu);  // no key-usage extension
    EXPECT_EQ(info.getCertBase64Data(), Base64Encode(info.getByteCertData()));

    spec.serial = {0x00, 0x0B, 0xC3};
    spec.version = 0;
    CertInfo v1 = Make(spec);
    EXPECT_EQ(v1.getSN(), "0BC3");
    EXPECT_EQ(v1.getVersion(), "V1");
    spec.serial = {0x00};
    EXPECT_EQ(Make(spec).getSN(), "0");
    spec.serial = {0x05};
    spec.negativeSerial = true;
    EXPECT_EQ(Make(spec).getSN(), "-05");
}

TEST_F(CertInfoTest, EveryAlgorithmNameAndTheFallbacks) {
    X509* cert = MakeCertificate(CertSpec(), s_rsa, s_rsa);
    for (const auto& row : CAList::mapAlgInfo) {
        SetSignatureAlgorithm(cert, row.first.c_str());
        EXPECT_EQ(CertInfo(Der(cert)).getCertAlg(), row.second) << row.first;
    }
    SetSignatureAlgorithm(cert, "1.2.840.113549.1.1.14");  // known to OpenSSL, not in the table
    EXPECT_EQ(CertInfo(Der(cert)).getCertAlg(), "RSA-SHA224");
    SetSignatureAlgorithm(cert, "1.2.3.4.5.6");
    CertInfo unknown(Der(cert));
    EXPECT_EQ(unknown.getCertAlg(), "1.2.3.4.5.6");
    EXPECT_EQ(unknown.m_sigAlgNid, 0);
    X509_free(cert);
    EXPECT_EQ(CAList::mapAlgInfo.size(), 14u);
    EXPECT_EQ(CAList::mapAlgInfo.at("1.2.840.113549.1.1.5"), "sha1RSA");
    EXPECT_EQ(CAList::mapAlgInfo.at("1.3.14.3.2.29"), "sha1RSA");

    CertInfo sm2 = Make(CertSpec(), s_sm2);
    EXPECT_EQ(sm2.getCertAlg(), "SM2");
}

TEST_F(CertInfoTest, NamesInBmpStringsAndLongValuesComeBackWhole) {
    CertSpec spec;
    spec.issuerCN = "上海数字证书认证中心 G2";
    spec.issuerCNAsBmp = true;
    spec.subjectCN = std::string(300, 'x') + "长名字";  // far past 256 bytes
    spec.subjectO = "测试单位";
    CertInfo info = Make(spec);
    EXPECT_EQ(info.getIssuerCN(), "上海数字证书认证中心 G2");
    EXPECT_EQ(info.getCN(), spec.subjectCN);
    EXPECT_EQ(info.getCertItem(14), "测试单位");
}

TEST_F(CertInfoTest, KeyIdentifiersWhenPresentOnly) {
    CertSpec spec;
    spec.authorityKeyIdHex = "00a1b2c3d4";
    CertInfo with = Make(spec);
    EXPECT_EQ(with.m_authorityKeyId, "00a1b2c3d4");
    EXPECT_EQ(with.m_subjectKeyId.size(), 40u);
    EXPECT_EQ(with.m_subjectKeyId.find_first_not_of("0123456789abcdef"), std::string::npos);
    spec.authorityKeyIdHex.clear();
    spec.subjectKeyId = false;
    CertInfo without = Make(spec);
    EXPECT_EQ(without.m_authorityKeyId, "");
    EXPECT_EQ(without.m_subjectKeyId, "");
}

TEST_F(CertInfoTest, TimesInTheLocalZoneWithTheRealSign) {
    CertSpec spec;
    spec.notBefore = "20240305090701Z";
    spec.notAfter = "22231231235959Z";
    UseZone("Asia/Shanghai");
    CertInfo east = Make(spec);
    EXPECT_EQ(east.getValidStart(), "2024/03/05 17:07:01 +08'00'");
    EXPECT_EQ(east.getValidEnd(), "2224/01/01 07:59:59 +08'00'");
    EXPECT_EQ(east.getCertItem(11), east.getValidStart());
    UseZone("UTC");
    EXPECT_EQ(Make(spec).getValidStart(), "2024/03/05 09:07:01 +00'00'");
    UseZone("America/Bogota");
    EXPECT_EQ(Make(spec).getValidStart(), "2024/03/05 04:07:01 -05'00'");
    UseZone("Asia/Kolkata");
    EXPECT_EQ(Make(spec).getValidStart(), "2024/03/05 14:37:01 +05'30'");
    UseZone("America/St_Johns");  // standard offset shown even in summer
    spec.notBefore = "20240705120000Z";
    EXPECT_EQ(Make(spec).getValidStart(), "2024/07/05 09:30:00 -03'30'");

    UseZone("UTC");
    spec.notBefore = "491231160000Z";
    spec.notAfter = "700101000000Z";
    CertInfo utc = Make(spec);
    EXPECT_EQ(utc.getValidStart(), "2049/12/31 16:00:00 +00'00'");
    EXPECT_EQ(utc.getValidEnd(), "1970/01/01 00:00:00 +00'00'");
}

TEST_F(CertInfoTest, CopiesOutliveTheirOriginal) {
    CertSpec spec;
    spec.subjectO = "Org";
    auto original = std::make_unique<CertInfo>(Make(spec));
    CertInfo copy(*original);
    CertInfo assigned(ByteArray("x", 1));
    assigned = *original;
    EXPECT_NE(copy.getX509(), original->getX509());
    original.reset();
    for (CertInfo* c : {&copy, &assigned}) {
        ASSERT_NE(c->getX509(), nullptr);
        EXPECT_EQ(c->getCN(), "Holder");
        EXPECT_EQ(c->getCertItem(14), "Org");
        EXPECT_EQ(CertInfo(c->getX509()).getSN(), "01");
        EXPECT_FALSE(c->getCertBase64Data().empty());
    }
}

TEST_F(CertInfoTest, BytesThatAreNoCertificateGiveEmptyTexts) {
    CertInfo junk(ByteArray("not a certificate", 17));
    EXPECT_EQ(junk.getX509(), nullptr);
    EXPECT_EQ(junk.getCN(), "");
    EXPECT_EQ(junk.getCertItem(1), "");
    EXPECT_EQ(junk.m_sigAlgNid, 0);
    EXPECT_EQ(junk.m_keyUsage, 0u);
    EXPECT_EQ(junk.getCertBase64Data(), "");
    CertInfo none(static_cast<x509_st*>(nullptr));
    EXPECT_EQ(none.getX509(), nullptr);
}

}  // namespace
