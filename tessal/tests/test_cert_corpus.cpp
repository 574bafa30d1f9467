// The certificate model on real certificates written by others.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "tessal/cert_info.h"

namespace {

const std::string kCerts = TESSAL_CORPUS_CERTS_DIR;

// PEM (with any text before it) or DER, as the corpus has both.
ByteArray LoadCertificate(const std::string& name) {
    std::ifstream in(kCerts + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string bytes = s.str();
    if (bytes.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
        return ByteArray(bytes.data(), static_cast<int>(bytes.size()));
    BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    unsigned char* der = nullptr;
    int len = cert ? i2d_X509(cert, &der) : 0;
    ByteArray out = len > 0 ? ByteArray(der, static_cast<unsigned long>(len)) : ByteArray();
    OPENSSL_free(der);
    X509_free(cert);
    return out;
}

TEST(CertCorpus, Sm2CertificatesOfSeveralSuites) {
    for (const char* name : {"sm2-tlcp-server-sign.crt", "sm2-kona-ee.crt", "sm2-ca-chinese-names.cer",
                             "sm2-root-ca-sm2-spki-oid.pem", "sm2-leaf-2050.pem"}) {
        CertInfo info(LoadCertificate(name));
        ASSERT_NE(info.getX509(), nullptr) << name;
        EXPECT_EQ(info.getCertAlg(), "SM2") << name;
        EXPECT_EQ(info.getVersion(), "V3") << name;
    }
    setenv("TZ", "UTC", 1);
    CertInfo late(LoadCertificate("sm2-leaf-2050.pem"));
    EXPECT_GE(std::stoi(late.getValidEnd().substr(0, 4)), 2050);
}

TEST(CertCorpus, UnusualNamesAndSerials) {
    CertInfo bmp(LoadCertificate("rsa-issuer-bmpstring.pem"));
    EXPECT_EQ(bmp.getIssuerCN(), "Microsoft Forefront TMG HTTPS Inspection Certification Authority");
    EXPECT_EQ(bmp.getSN().substr(0, 1), "-");  // a negative serial keeps its sign
    EXPECT_EQ(bmp.getCertAlg(), "sha1RSA");
    CertInfo negative(LoadCertificate("rsa-negative-serial.pem"));
    EXPECT_EQ(negative.getSN(), "-04316693ED");
    CertInfo large(LoadCertificate("rsa-serial-21-octets.pem"));
    EXPECT_EQ(large.getSN().size(), 42u);
    CertInfo chinese(LoadCertificate("rsa-utf8-chinese-org.pem"));
    EXPECT_NE(chinese.getCertItem(14).find("餐饮管理有限公司"), std::string::npos);
    EXPECT_EQ(chinese.m_subjectKeyId, "");
    EXPECT_EQ(chinese.m_authorityKeyId, "");
    CertInfo cyrillic(LoadCertificate("rsa-utf8-cyrillic.pem"));
    EXPECT_EQ(cyrillic.getIssuerCN(), "認証局");
}

}  // namespace
