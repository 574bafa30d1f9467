// CRLs made by openssl and served on loopback; the status export's order; the corpus's CRLs.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "api/encodings.h"
#include "cert_factory.h"
#include "certs/crl_check.h"
#include "certs/signature_check.h"
#include "loopback_http_server.h"
#include "revocation_rig.h"
#include "tessal/certificates.h"
#include "tessal/http.h"
#include "test_support.h"
#include "testing/corpus.h"

using test_support::IndexLine;
using test_support::LoopbackHttpServer;
using test_support::TestCa;

namespace {

std::string CdpLine(const std::string& url) { return "crlDistributionPoints = URI:" + url; }

// Two distribution points, each with one URI.
std::vector<std::string> TwoPoints(const std::string& first, const std::string& second) {
    return {"crlDistributionPoints = dp1, dp2", "[dp1]", "fullname = URI:" + first, "[dp2]",
            "fullname = URI:" + second};
}

class CrlTestBase {
protected:
    explicit CrlTestBase(const char* algorithm) : m_ca(algorithm) {
        m_log = test_support::MakeTempDir("crl-log-") + "/ZYKUKeyDriver.log";
        setenv("TESSAL_LOG_FILE", m_log.c_str(), 1);
    }
    int Check(const std::string& leaf, std::string& crl) { return checkCrlRevocation(leaf, m_ca.CertBase64(), crl); }
    std::string Log() { return test_support::ReadFile(m_log); }
    std::string Base64(const std::string& der) {
        return Base64Encode(ByteArray(der.data(), static_cast<int>(der.size())));
    }

    TestCa m_ca;
    LoopbackHttpServer m_server;
    std::string m_log;
};

class CrlTest : public CrlTestBase, public ::testing::TestWithParam<const char*> {
protected:
    CrlTest() : CrlTestBase(GetParam()) {}
};

TEST_P(CrlTest, AnIssuerSignedCrlDecides) {
    std::string leaf = m_ca.Leaf("3003", {CdpLine(m_server.Url("/ca.crl"))});
    std::string empty = m_ca.Crl("empty.crl", "");
    m_server.Set("/ca.crl", {200, empty, false});
    std::string crl;
    EXPECT_EQ(Check(leaf, crl), 0) << Log();
    EXPECT_EQ(crl, Base64(empty));

    // The certificate is the third entry.
    std::string listing =
        m_ca.Crl("listing.crl", IndexLine('R', "3001") + IndexLine('R', "3002") + IndexLine('R', "3003"));
    m_server.Set("/ca.crl", {200, listing, false});
    EXPECT_EQ(Check(leaf, crl), 2);
    EXPECT_EQ(crl, Base64(listing));
    m_server.Set("/ca.crl", {200, m_ca.Crl("others.crl", IndexLine('R', "3001") + IndexLine('V', "3003")), false});
    EXPECT_EQ(Check(leaf, crl), 0);
}

TEST_P(CrlTest, AForgedOrExpiredCrlCountsAsNone) {
    std::string leaf = m_ca.Leaf("3003", {CdpLine(m_server.Url("/ca.crl"))});
    std::string forged = m_ca.Crl("forged.crl", "", "rogue");  // the issuer's name, another key
    m_server.Set("/ca.crl", {200, forged, false});
    std::string crl;
    EXPECT_EQ(Check(leaf, crl), 1);
    EXPECT_EQ(crl, Base64(forged));  // still handed back for inspection
    EXPECT_NE(Log().find("CRL signature does not verify with the issuer's key"), std::string::npos) << Log();

    std::string expired =
        m_ca.Crl("expired.crl", "", "ca", "-crl_lastupdate 250101000000Z -crl_nextupdate 250201000000Z");
    m_server.Set("/ca.crl", {200, expired, false});
    EXPECT_EQ(Check(leaf, crl), 1);
    EXPECT_NE(Log().find("CRL expired: its nextUpdate has passed"), std::string::npos);

    if (m_ca.Sm2()) {  // SM2 signatures are checked with the standard identifier only
        m_server.Set("/ca.crl", {200, m_ca.Crl("other-id.crl", "", "ca", "-sigopt distid:0000"), false});
        EXPECT_EQ(Check(leaf, crl), 1);
    }

    // A CRL of the right issuer, checked against an issuer certificate that is not the
    // certificate's.
    m_server.Set("/ca.crl", {200, m_ca.Crl("empty.crl", ""), false});
    TestCa other(GetParam());
    EXPECT_EQ(checkCrlRevocation(leaf, other.CertBase64(), crl), 1);
    EXPECT_EQ(Check(leaf, crl), 0);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, CrlTest, ::testing::Values("rsa", "sm2"));

class CrlPointTest : public CrlTestBase, public ::testing::Test {
protected:
    CrlPointTest() : CrlTestBase("rsa") { m_server.Set("/ca.crl", {200, m_ca.Crl("empty.crl", ""), false}); }
};

TEST_F(CrlPointTest, OnlyPlainHttpFullNamesAreUsed) {
    std::string crl = "as passed";
    EXPECT_EQ(Check(m_ca.Leaf("3003", {}), crl), 1);
    EXPECT_EQ(Check(m_ca.Leaf("3003", {CdpLine("https://127.0.0.1:1/ca.crl")}), crl), 1);
    EXPECT_EQ(Check(m_ca.Leaf("3003", {CdpLine("ldap://127.0.0.1/cn=ca")}), crl), 1);
    EXPECT_EQ(Check(m_ca.Leaf("3003", {CdpLine("HTTP://127.0.0.1:1/ca.crl")}), crl), 1);
    EXPECT_EQ(crl, "as passed");
    EXPECT_EQ(Check("not a certificate", crl), 1);
    EXPECT_EQ(crl, "as passed");
    // The first http URI of a point's full name is taken.
    std::string leaf = m_ca.Leaf("3003", {"crlDistributionPoints = URI:ldap://x/y, URI:" + m_server.Url("/ca.crl")});
    EXPECT_EQ(Check(leaf, crl), 0);
}

TEST_F(CrlPointTest, TheLastPlainHttpPointWins) {
    std::string crl;
    EXPECT_EQ(
        Check(m_ca.Leaf("3003", TwoPoints(m_server.Url("/ca.crl"), test_support::UnusedLoopbackUrl("/gone.crl"))), crl),
        1);
    EXPECT_EQ(m_server.Requests("/ca.crl"), 1);

    m_server.Set("/listing.crl", {200, m_ca.Crl("listing.crl", IndexLine('R', "3003")), false});
    std::string leaf = m_ca.Leaf("3003", TwoPoints(m_server.Url("/listing.crl"), m_server.Url("/ca.crl")));
    EXPECT_EQ(Check(leaf, crl), 0);
    leaf = m_ca.Leaf("3003", TwoPoints(m_server.Url("/ca.crl"), m_server.Url("/listing.crl")));
    EXPECT_EQ(Check(leaf, crl), 2);
    // A PEM body is not parsed as a CRL.
    m_server.Set("/pem.crl", {200, test_support::ReadFile(m_ca.File("empty.crl.pem")), false});
    EXPECT_EQ(Check(m_ca.Leaf("3003", {CdpLine(m_server.Url("/pem.crl"))}), crl), 1);
}

TEST_F(CrlPointTest, DownloadsSendTheirTwoHeaderLinesAndKeepErrorPages) {
    std::string data = "old:";
    EXPECT_TRUE(CHttpClient::GetCRLData(m_server.Url("/missing.crl"), data));
    EXPECT_EQ(data, "old:no such path");
    std::string head = m_server.LastHead("/missing.crl");
    EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nCache-Control: no-cache"), std::string::npos) << head;
    data.clear();
    EXPECT_FALSE(CHttpClient::GetCRLData(test_support::UnusedLoopbackUrl("/gone.crl"), data));
}

// A CRL issued for the leaf's distribution point with an issuingDistributionPoint of these lines.
std::vector<std::string> Idp(const std::vector<std::string>& lines) {
    std::vector<std::string> extension = {"issuingDistributionPoint = critical, @idp", "[idp]"};
    extension.insert(extension.end(), lines.begin(), lines.end());
    return extension;
}

// `der` with a critical extension of an unknown kind on its first entry, signed again by `keyFile`.
std::string WithCriticalEntryExtension(const std::string& der, const std::string& keyFile) {
    X509CrlPtr crl = CrlFromDer(der);
    EVP_PKEY* key = test_support::LoadPemKey(keyFile);
    ASN1_OBJECT* kind = OBJ_txt2obj("1.3.6.1.4.1.55555.1", 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>("\x05\x00"), 2);
    X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, kind, 1, value);
    X509_REVOKED_add_ext(sk_X509_REVOKED_value(X509_CRL_get_REVOKED(crl.get()), 0), extension, -1);
    X509_CRL_sign(crl.get(), key, EVP_sha256());
    std::string signedDer = DerOf(crl.get(), i2d_X509_CRL);
    X509_EXTENSION_free(extension);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(kind);
    EVP_PKEY_free(key);
    return signedDer;
}

// A CRL that is not the complete list for the leaf cannot say it is good; one whose
// issuingDistributionPoint is the leaf's point and covers everything still decides.
TEST_F(CrlPointTest, OnlyACompleteCrlForTheCertificateDecides) {
    const std::string point = m_server.Url("/ca.crl");
    std::string leaf = m_ca.Leaf("3003", {CdpLine(point)});
    const std::string others = IndexLine('R', "3001");
    struct Case {
        const char* what;
        std::vector<std::string> extensions;
        int expected;
    } cases[] = {
        {"its own point", Idp({"fullname = URI:" + point}), 0},
        {"its own point, end entities only", Idp({"fullname = URI:" + point, "onlyuser = TRUE"}),
         0},
        {"no point named, end entities only", Idp({"onlyuser = TRUE"}), 0},
        {"every reason",
         Idp({"fullname = URI:" + point,
              "onlysomereasons = keyCompromise, CACompromise, affiliationChanged, superseded, "
              "cessationOfOperation, certificateHold, privilegeWithdrawn, AACompromise"}),
         0},
        {"a non-critical extension of an unknown kind", {"1.3.6.1.4.1.55555.2 = ASN1:NULL"}, 0},
        {"some reasons only", Idp({"fullname = URI:" + point, "onlysomereasons = keyCompromise"}),
         1},
        {"another point", Idp({"fullname = URI:" + m_server.Url("/other.crl")}), 1},
        {"CA certificates only", Idp({"onlyCA = TRUE"}), 1},
        {"attribute certificates only", Idp({"onlyAA = TRUE"}), 1},
        {"an indirect CRL", Idp({"fullname = URI:" + point, "indirectCRL = TRUE"}), 1},
        {"a delta CRL", {"2.5.29.27 = critical, DER:02:01:05"}, 1},
        {"a critical extension of an unknown kind",
         {"1.3.6.1.4.1.55555.2 = critical, ASN1:NULL"},
         1},
    };
    for (const Case& c : cases) {
        m_server.Set("/ca.crl",
                     {200, m_ca.Crl("scoped.crl", others, "ca", "", c.extensions), false});
        std::string crl;
        EXPECT_EQ(Check(leaf, crl), c.expected) << c.what << "\n" << Log();
        EXPECT_FALSE(crl.empty()) << c.what;
    }
    EXPECT_NE(Log().find("CRL scope does not cover the certificate"), std::string::npos);
    EXPECT_NE(Log().find("CRL is a delta CRL, not a complete one"), std::string::npos);
    EXPECT_NE(Log().find("CRL has a critical extension that is not handled"), std::string::npos);

    // A CRL for the leaf's point that lists it still says revoked.
    m_server.Set("/ca.crl", {200,
                             m_ca.Crl("own.crl", IndexLine('R', "3003"), "ca", "",
                                      Idp({"fullname = URI:" + point, "onlyuser = TRUE"})),
                             false});
    std::string crl;
    EXPECT_EQ(Check(leaf, crl), 2);

    // An entry with a critical extension of an unknown kind makes the whole CRL unusable.
    std::string entryExtension =
        WithCriticalEntryExtension(m_ca.Crl("entry.crl", others), m_ca.File("ca.key"));
    m_server.Set("/ca.crl", {200, entryExtension, false});
    EXPECT_EQ(Check(leaf, crl), 1) << Log();
    m_server.Set("/ca.crl", {200, m_ca.Crl("entry.crl", others), false});
    EXPECT_EQ(Check(leaf, crl), 0);
}

// A name relative to the CRL issuer matches the same relative name among the leaf's points.
TEST_F(CrlPointTest, RelativeDistributionPointNamesMatch) {
    std::string leaf = m_ca.Leaf("3003", {"crlDistributionPoints = dp1, dp2", "[dp1]",
                                          "fullname = URI:" + m_server.Url("/ca.crl"), "[dp2]",
                                          "relativename = rdn", "[rdn]", "CN = partition 2"});
    std::string crl;
    for (const char* partition : {"partition 2", "partition 3"}) {
        m_server.Set("/ca.crl", {200,
                                 m_ca.Crl("relative.crl", IndexLine('R', "3001"), "ca", "",
                                          Idp({"relativename = idp_rdn", "[idp_rdn]",
                                               std::string("CN = ") + partition})),
                                 false});
        EXPECT_EQ(Check(leaf, crl), std::string(partition) == "partition 2" ? 0 : 1) << partition;
    }
}

// ZYKCertValidity asks OCSP first and reads the CRL only when OCSP cannot tell.
TEST_F(CrlPointTest, CertValidityAsksOcspFirst) {
    test_support::WriteText(m_ca.File("responder.index"), IndexLine('V', "1001") + IndexLine('R', "1002"));
    test_support::OcspResponderProcess responder(m_ca.File("responder.index"), m_ca.File("ca.pem"), m_ca.File("ca"),
                                                 false);
    m_server.Set("/listing.crl",
                 {200, m_ca.Crl("listing.crl", IndexLine('R', "1001") + IndexLine('R', "1003")), false});
    auto leaf = [&](const std::string& serial) {
        return m_ca.Leaf(
            serial, {"authorityInfoAccess = OCSP;URI:" + responder.Url("/"), CdpLine(m_server.Url("/listing.crl"))});
    };
    std::string ocsp, crl = "untouched";
    EXPECT_EQ(ZYKCertValidity(leaf("1001"), m_ca.CertBase64(), ocsp, crl),
              0);  // OCSP good: the CRL is not read
    EXPECT_FALSE(ocsp.empty());
    EXPECT_EQ(ZYKCertValidity(leaf("1002"), m_ca.CertBase64(), ocsp, crl), 2);
    EXPECT_EQ(m_server.Requests("/listing.crl"), 0);
    EXPECT_EQ(crl, "untouched");
    EXPECT_EQ(ZYKCertValidity(leaf("1003"), m_ca.CertBase64(), ocsp, crl),
              2);  // OCSP unknown, the CRL lists it
    EXPECT_EQ(m_server.Requests("/listing.crl"), 1);
    EXPECT_NE(crl, "untouched");
    EXPECT_EQ(ZYKCertValidity(m_ca.Leaf("1004", {}), m_ca.CertBase64(), ocsp, crl), 1);
}

// The whole validity check ends at its limit: a responder and distribution points that accept
// and never answer cost the limit once, and no point after it is read.
TEST_F(CrlPointTest, CertValidityEndsAtItsLimitWithOneUnknown) {
    test_support::ScopedEnvironment limit("TESSAL_CERT_VALIDITY_LIMIT_MS", "1500");
    m_server.Set("/ocsp", {200, "", true});
    std::vector<std::string> extensions = {
        "authorityInfoAccess = OCSP;URI:" + m_server.Url("/ocsp"),
        "crlDistributionPoints = dp1, dp2, dp3, dp4"};
    for (int i = 1; i <= 3; ++i) {
        m_server.Set("/slow" + std::to_string(i) + ".crl", {200, "", true});
        extensions.insert(extensions.end(),
                          {"[dp" + std::to_string(i) + "]",
                           "fullname = URI:" + m_server.Url("/slow" + std::to_string(i) + ".crl")});
    }
    extensions.insert(extensions.end(),
                      {"[dp4]", "fullname = URI:" + m_server.Url("/ca.crl")});  // a good CRL
    std::string ocsp, crl = "untouched";
    EXPECT_EQ(ZYKCertValidity(m_ca.Leaf("3003", extensions), m_ca.CertBase64(), ocsp, crl), 1);
    EXPECT_EQ(crl, "untouched");
    EXPECT_EQ(m_server.Requests("/ocsp"), 1);
    EXPECT_EQ(m_server.Requests("/ca.crl"), 0) << "no download is started past the limit";
    EXPECT_NE(Log().find("CRL distribution points not read within the call's time limit"),
              std::string::npos)
        << Log();

    // With the limit, an answering responder and point decide as before.
    m_server.Set("/ocsp", {404, "not an OCSP responder", false});
    extensions = {"authorityInfoAccess = OCSP;URI:" + m_server.Url("/ocsp"),
                  CdpLine(m_server.Url("/ca.crl"))};
    EXPECT_EQ(ZYKCertValidity(m_ca.Leaf("3003", extensions), m_ca.CertBase64(), ocsp, crl), 0);
}

// Real CRLs written by others.
const std::string kCorpus = kit_testing::CorpusDir("certs");

X509_CRL* LoadCorpusCrl(const std::string& name) {
    BIO* bio = BIO_new_file((kCorpus + "/" + name).c_str(), "r");
    X509_CRL* crl = bio ? PEM_read_bio_X509_CRL(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return crl;
}

TEST(CrlCorpus, RealCrlsParseAndVerifyWithTheirIssuers) {
    SKIP_WITHOUT_CORPUS("certs", "that real CRLs of other software parse and verify with their issuers");
    for (const char* name : {"crl-cyrillic-utf8-issuer.pem", "crl-ecdsa-reason-no-nextupdate.pem",
                             "crl-v1-md2-1995.pem", "sm2-kona-root-revokes-intermediate.crl"}) {
        X509_CRL* crl = LoadCorpusCrl(name);
        ASSERT_NE(crl, nullptr) << name;
        std::string der = DerOf(crl, i2d_X509_CRL);
        X509CrlPtr reparsed = CrlFromDer(der);
        EXPECT_NE(reparsed, nullptr) << name;
        X509_CRL_free(crl);
    }
    X509_CRL* kona = LoadCorpusCrl("sm2-kona-root-revokes-intermediate.crl");
    X509* root = test_support::LoadPemCert(kCorpus + "/sm2-kona-root-ca.crt");
    X509* intermediate = test_support::LoadPemCert(kCorpus + "/sm2-kona-intermediate-ca.crt");
    EXPECT_TRUE(IsSignedBy(kona, X509_get0_pubkey(root)));
    EXPECT_FALSE(IsSignedBy(kona, X509_get0_pubkey(intermediate)));
    EXPECT_TRUE(IsSignedBy(intermediate, X509_get0_pubkey(root)));
    X509_free(intermediate);
    X509_free(root);
    X509_CRL_free(kona);
}

}  // namespace
