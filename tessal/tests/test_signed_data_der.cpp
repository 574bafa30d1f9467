// Signed data put together from its fields against OpenSSL's own encoding of the whole.
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "cert_factory.h"
#include "token/der_writer.h"
#include "token/rsa_signed_data.h"
#include "token/signed_data_der.h"

namespace {

using test_support::CertSpec;

struct Signer {
    EVP_PKEY* key;
    X509* cert;
};

std::string Bytes(const ByteArray& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.length()));
}

std::string OpenSslDer(PKCS7* p7) {
    unsigned char* der = nullptr;
    int length = i2d_PKCS7(p7, &der);
    std::string text = length > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)) : "";
    OPENSSL_free(der);
    return text;
}

class SignedDataDer : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            CertSpec spec;
            spec.subjectCN = "Signer " + std::to_string(i);
            spec.serial = {static_cast<unsigned char>(0x10 + i), 0x22};
            EVP_PKEY* key = test_support::NewRsaKey(1024);
            m_signers.push_back({key, test_support::MakeCertificate(spec, key, key)});
        }
    }
    void TearDown() override {
        for (Signer& s : m_signers) {
            X509_free(s.cert);
            EVP_PKEY_free(s.key);
        }
    }
    // Signed data with the first `signers` signers (SHA-256, then SHA-1), `certs` certificates
    // added last to first, and the content detached or not.
    PKCS7* Make(int signers, int certs, bool detached, const std::string& content, bool unsignedAttribute) {
        PKCS7* p7 = PKCS7_new();
        EXPECT_EQ(PKCS7_set_type(p7, NID_pkcs7_signed), 1);
        for (int i = 0; i < signers; ++i) {
            PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, m_signers[i].cert, m_signers[i].key,
                                                        i % 2 ? EVP_sha1() : EVP_sha256());
            EXPECT_NE(si, nullptr);
            EXPECT_EQ(PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)),
                      1);
        }
        for (int i = certs - 1; i >= 0; --i) EXPECT_EQ(PKCS7_add_certificate(p7, m_signers[i].cert), 1);
        EXPECT_EQ(PKCS7_content_new(p7, NID_pkcs7_data), 1);
        if (detached) {
            EXPECT_EQ(PKCS7_set_detached(p7, 1), 1);
        }
        BIO* bio = PKCS7_dataInit(p7, nullptr);
        EXPECT_NE(bio, nullptr);
        if (!content.empty()) {
            EXPECT_EQ(BIO_write(bio, content.data(), static_cast<int>(content.size())), static_cast<int>(content.size()));
        }
        EXPECT_EQ(PKCS7_dataFinal(p7, bio), 1);
        BIO_free_all(bio);
        if (unsignedAttribute) {
            ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>("\x30\x03\x02\x01\x05"), 5);
            PKCS7_add_attribute(sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0),
                                NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, value);
        }
        return p7;
    }
    std::vector<Signer> m_signers;
};

TEST_F(SignedDataDer, EncodingIsByteForByteI2dPkcs7) {
    const std::string large(200000, 'q');
    int compared = 0;
    for (bool detached : {true, false})
        for (const std::string& content : {std::string(), std::string("content"), large})
            for (int signers : {1, 2, 3})
                for (int certs : {0, 1, 3})
                    for (bool unsignedAttribute : {false, true}) {
                        std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(
                            Make(signers, certs, detached, content, unsignedAttribute), PKCS7_free);
                        ByteArray ours;
                        ASSERT_TRUE(EncodeSignedDataDer(p7.get(), ours));
                        EXPECT_TRUE(Bytes(ours) == OpenSslDer(p7.get()))
                            << "detached " << detached << ", " << content.size() << " bytes, " << signers
                            << " signers, " << certs << " certificates, unsigned " << unsignedAttribute;
                        ++compared;
                    }
    EXPECT_EQ(compared, 108);
}

// Certificates encoded beforehand stand in only for exactly those certificates in that order.
TEST_F(SignedDataDer, KnownCertificatesAreUsedForTheSameListOnly) {
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(Make(1, 3, true, "x", true), PKCS7_free);
    const std::string expected = OpenSslDer(p7.get());
    STACK_OF(X509)* held = p7->d.sign->cert;
    std::vector<X509*> inOrder;
    for (int i = 0; i < sk_X509_num(held); ++i) inOrder.push_back(sk_X509_value(held, i));
    std::vector<std::vector<X509*>> lists = {inOrder, {inOrder[1], inOrder[0], inOrder[2]}, {inOrder[0]}, {}};
    for (const auto& list : lists) {
        KnownCertificates known;
        ASSERT_TRUE(EncodeCertificates(list, known));
        EXPECT_EQ(known.certificates, list);
        ByteArray ours;
        ASSERT_TRUE(EncodeSignedDataDer(p7.get(), ours, &known));
        EXPECT_TRUE(Bytes(ours) == expected) << list.size() << " known";
    }
    KnownCertificates none;
    EXPECT_FALSE(EncodeCertificates({inOrder[0], nullptr}, none));
    EXPECT_TRUE(none.certificates.empty());
}

TEST_F(SignedDataDer, OtherShapesGoThroughOpenSslAndBrokenOnesFail) {
    // With a CRL: OpenSSL's encoder.
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(Make(1, 1, true, "x", false), PKCS7_free);
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(m_signers[0].cert));
    ASN1_TIME* when = ASN1_TIME_set(nullptr, 1700000000);
    X509_CRL_set1_lastUpdate(crl, when);
    ASN1_TIME_free(when);
    ASSERT_GT(X509_CRL_sign(crl, m_signers[0].key, EVP_sha256()), 0);
    ASSERT_EQ(PKCS7_add_crl(p7.get(), crl), 1);
    X509_CRL_free(crl);
    ByteArray ours;
    ASSERT_TRUE(EncodeSignedDataDer(p7.get(), ours));
    EXPECT_TRUE(Bytes(ours) == OpenSslDer(p7.get()));

    // Not signed data: OpenSSL's encoder as well.
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> data(PKCS7_new(), PKCS7_free);
    ASSERT_EQ(PKCS7_set_type(data.get(), NID_pkcs7_data), 1);
    ASSERT_TRUE(EncodeSignedDataDer(data.get(), ours));
    EXPECT_TRUE(Bytes(ours) == OpenSslDer(data.get()));

    // A signer info without its algorithm cannot be encoded: failure, not a short output.
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> broken(Make(1, 1, true, "x", false), PKCS7_free);
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(broken.get()), 0);
    X509_ALGOR_free(si->digest_alg);
    si->digest_alg = nullptr;
    ByteArray none;
    EXPECT_FALSE(EncodeSignedDataDer(broken.get(), none));
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_FALSE(EncodeSignedDataDer(nullptr, none));
}

}  // namespace

namespace {

// The header OpenSSL writes for a tag and length, through an OCTET STRING of that length.
der::Bytes OpenSslHeader(size_t length) {
    std::vector<unsigned char> content(length, 0x5A);
    ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
    unsigned char* der = nullptr;
    int total = octets && ASN1_OCTET_STRING_set(octets, content.data(), static_cast<int>(length)) == 1
                    ? i2d_ASN1_OCTET_STRING(octets, &der)
                    : 0;
    der::Bytes header;
    if (total > 0) header.assign(der, der + (static_cast<size_t>(total) - length));
    OPENSSL_free(der);
    ASN1_OCTET_STRING_free(octets);
    return header;
}

}  // namespace

TEST(DerWriter, LengthsAtEveryBoundaryAreWrittenAsOpenSslWritesThem) {
    for (size_t length : {0u, 1u, 0x7Fu, 0x80u, 0xFFu, 0x100u, 0xFFFFu, 0x10000u}) {
        der::Bytes ours;
        der::AppendHeader(ours, der::kOctetString, length);
        EXPECT_EQ(ours, OpenSslHeader(length)) << length;
        EXPECT_EQ(der::TlvSize(length), ours.size() + length) << length;
    }
}

TEST(DerWriter, SetElementsAreSortedByTheirBytesShorterPrefixFirst) {
    std::vector<der::Bytes> elements = {{0x31, 0x02}, {0x30, 0x05, 0x01}, {0x30, 0x05}, {0x02, 0x01, 0x01}};
    der::SortForSetOf(elements);
    EXPECT_EQ(elements, (std::vector<der::Bytes>{{0x02, 0x01, 0x01}, {0x30, 0x05}, {0x30, 0x05, 0x01}, {0x31, 0x02}}));
}

TEST(RsaSignedData, SigningTimesAreThoseOpenSslWritesOnBothSidesOf2050) {
    const time_t instants[] = {0,           1700000000,  -631152001 /* 1949-12-31 23:59:59 */,
                               -631152000,  2524607999 /* 2049-12-31 23:59:59 */,
                               2524608000,  253402300799 /* 9999-12-31 23:59:59 */};
    for (time_t instant : instants) {
        ASN1_TIME* time = ASN1_TIME_set(nullptr, instant);
        unsigned char* der = nullptr;
        int length = time ? i2d_ASN1_TIME(time, &der) : 0;
        ASSERT_GT(length, 0) << instant;
        EXPECT_EQ(SigningTimeDer(instant), der::Bytes(der, der + length)) << instant;
        OPENSSL_free(der);
        ASN1_TIME_free(time);
    }
}
