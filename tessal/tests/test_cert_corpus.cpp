// The certificate model on real certificates written by others (when the corpus is present), and
// on certificates of the same kinds made here.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "cert_factory.h"
#include "gmcrypto/sm_objects.h"
#include "tessal/cert_info.h"
#include "testing/corpus.h"

namespace {

const std::string kCerts = kit_testing::CorpusDir("certs");

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
    SKIP_WITHOUT_CORPUS("certs", "SM2 certificates written by several other suites");
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

// Marks a certificate as signed with the default SM2 user identifier.
void SetDefaultSm2Id(X509* cert) {
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>("1234567812345678"), 16);
    X509_set0_distinguishing_id(cert, id);
}

// Every certificate of a PEM file, in order (text before a block is skipped), each marked as
// signed with the default SM2 user identifier.
std::vector<X509*> LoadAll(const std::string& name) {
    std::vector<X509*> out;
    BIO* bio = BIO_new_file((kCerts + "/" + name).c_str(), "r");
    while (X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr) {
        SetDefaultSm2Id(cert);
        out.push_back(cert);
    }
    BIO_free(bio);
    return out;
}

// Whether `leaf` verifies against `root` through `intermediates` (signatures and chain only).
int VerifyChain(X509* leaf, X509* root, const std::vector<X509*>& intermediates) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (X509* ca : intermediates) sk_X509_push(untrusted, ca);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, leaf, untrusted);
    X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(ctx), X509_V_FLAG_NO_CHECK_TIME);
    int rc = X509_verify_cert(ctx);
    int error = X509_STORE_CTX_get_error(ctx);
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    return rc == 1 ? X509_V_OK : error;
}

TEST(CertCorpus, Sm2ChainsStillVerifyOnceTheSmObjectsAreRegistered) {
    SKIP_WITHOUT_CORPUS("certs", "that SM2 chains of other suites verify once the SM objects are registered");
    RegisterSmObjects();
    std::vector<X509*> root = LoadAll("sm2-kona-root-ca.crt"), intermediate = LoadAll("sm2-kona-intermediate-ca.crt"),
                       ee = LoadAll("sm2-kona-ee.crt"), tlcpCas = LoadAll("sm2-tlcp-chain-ca.crt"),
                       tlcpLeaf = LoadAll("sm2-tlcp-server-sign.crt");
    ASSERT_EQ(root.size(), 1u);
    ASSERT_EQ(intermediate.size(), 1u);
    ASSERT_EQ(ee.size(), 1u);
    ASSERT_EQ(tlcpCas.size(), 2u);
    ASSERT_EQ(tlcpLeaf.size(), 1u);
    EXPECT_EQ(VerifyChain(ee[0], root[0], intermediate), X509_V_OK);
    EXPECT_EQ(VerifyChain(tlcpLeaf[0], tlcpCas[0], {tlcpCas[1]}), X509_V_OK);
    // A leaf under the wrong root does not verify: the check above can fail.
    EXPECT_NE(VerifyChain(ee[0], tlcpCas[0], {tlcpCas[1]}), X509_V_OK);
    for (auto* list : {&root, &intermediate, &ee, &tlcpCas, &tlcpLeaf})
        for (X509* cert : *list) X509_free(cert);
}

TEST(CertCorpus, UnusualNamesAndSerials) {
    SKIP_WITHOUT_CORPUS("certs", "real certificates with BMPString issuers, negative and 21-octet serials");
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

// The same kinds of certificates, made here, so that a clone without the corpus tests them too.
TEST(CertFixtures, Sm2ChainOfThreeVerifiesOnceTheSmObjectsAreRegistered) {
    using namespace test_support;
    RegisterSmObjects();
    EVP_PKEY *rootKey = NewSm2Key(), *caKey = NewSm2Key(), *leafKey = NewSm2Key(), *strangerKey = NewSm2Key();
    CertSpec rootSpec;
    rootSpec.subjectCN = rootSpec.issuerCN = "SM2 Root";
    rootSpec.caExtensions = true;
    rootSpec.notAfter = "20500910000000Z";  // written as GeneralizedTime
    CertSpec caSpec = rootSpec;
    caSpec.subjectCN = "SM2 Sub CA";
    CertSpec leafSpec;
    leafSpec.subjectCN = "测试用户";
    leafSpec.subjectO = "测试CA";
    leafSpec.issuerCN = "SM2 Sub CA";
    leafSpec.notAfter = rootSpec.notAfter;
    X509* root = MakeCertificate(rootSpec, rootKey, rootKey);
    X509* ca = MakeCertificate(caSpec, caKey, rootKey);
    X509* leaf = MakeCertificate(leafSpec, leafKey, caKey);
    X509* stranger = MakeCertificate(rootSpec, strangerKey, strangerKey);
    for (X509* cert : {root, ca, leaf, stranger}) SetDefaultSm2Id(cert);
    EXPECT_EQ(VerifyChain(leaf, root, {ca}), X509_V_OK);
    EXPECT_NE(VerifyChain(leaf, stranger, {ca}), X509_V_OK);  // same name, other key

    setenv("TZ", "UTC", 1);
    CertInfo info(Der(leaf));
    EXPECT_EQ(info.getCertAlg(), "SM2");
    EXPECT_EQ(info.getVersion(), "V3");
    EXPECT_EQ(info.getValidEnd().substr(0, 4), "2050");
    EXPECT_NE(info.getCertItem(14).find("测试CA"), std::string::npos);
    for (X509* cert : {root, ca, leaf, stranger}) X509_free(cert);
    for (EVP_PKEY* key : {rootKey, caKey, leafKey, strangerKey}) EVP_PKEY_free(key);
}

TEST(CertFixtures, RsaCertificatesWithUnusualSerialsAndNames) {
    using namespace test_support;
    EVP_PKEY* key = NewRsaKey();
    CertSpec spec;
    spec.issuerCN = "Inspection Certification Authority";
    spec.issuerCNAsBmp = true;
    spec.serial = {0x53, 0x13, 0x7D, 0x28};
    spec.negativeSerial = true;
    X509* bmp = MakeCertificate(spec, key, key);
    CertInfo negative(Der(bmp));
    EXPECT_EQ(negative.getIssuerCN(), "Inspection Certification Authority");
    EXPECT_EQ(negative.getSN(), "-53137D28");

    spec = CertSpec();
    spec.serial.assign(21, 0x7A);
    spec.issuerCN = "認証局";
    spec.subjectO = "餐饮管理有限公司";
    spec.subjectKeyId = false;
    X509* large = MakeCertificate(spec, key, key);
    CertInfo info(Der(large));
    std::string serialHex;
    for (int i = 0; i < 21; ++i) serialHex += "7A";
    EXPECT_EQ(info.getSN(), serialHex);
    EXPECT_EQ(info.getIssuerCN(), "認証局");
    EXPECT_NE(info.getCertItem(14).find("餐饮管理有限公司"), std::string::npos);
    EXPECT_EQ(info.m_subjectKeyId, "");
    X509_free(bmp);
    X509_free(large);
    EVP_PKEY_free(key);
}

}  // namespace
