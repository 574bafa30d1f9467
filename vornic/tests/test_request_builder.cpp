// The SM2 request builder, checked with OpenSSL: signatures made by OpenSSL around the
// to-be-signed bytes, requests verified by OpenSSL.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vornic/vornic.h"

namespace {

using Bytes = std::vector<unsigned char>;
const char kSm2Id[] = "1234567812345678";

// Sets TESSAL_ANSI_CODEPAGE, or removes it (null).
void SetCodePage(const char* value) {
#if defined(_WIN32)
    _putenv_s("TESSAL_ANSI_CODEPAGE", value ? value : "");
#else
    if (value)
        setenv("TESSAL_ANSI_CODEPAGE", value, 1);
    else
        unsetenv("TESSAL_ANSI_CODEPAGE");
#endif
}

struct Sm2Key {
    Sm2Key() : key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2")) {
        unsigned char point[65];
        size_t len = 0;
        EXPECT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                                  &len),
                  1);
        EXPECT_EQ(len, 65u);
        x.assign(point + 1, point + 33);
        y.assign(point + 33, point + 65);
    }
    ~Sm2Key() { EVP_PKEY_free(key); }
    EVP_PKEY* key;
    Bytes x, y;
};

// SM3 with the default identifier over `data`; r and s as 32-byte big-endian values.
void Sign(EVP_PKEY* key, const unsigned char* data, size_t len, Bytes& r, Bytes& s) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    ASSERT_EQ(EVP_PKEY_CTX_set1_id(pctx, kSm2Id, 16), 1);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    ASSERT_EQ(EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key), 1);
    unsigned char der[80];
    size_t derLen = sizeof der;
    ASSERT_EQ(EVP_DigestSign(md, der, &derLen, data, len), 1);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen));
    ASSERT_NE(sig, nullptr);
    r.assign(32, 0);
    s.assign(32, 0);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), r.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), s.data(), 32);
    ECDSA_SIG_free(sig);
}

struct Built {
    int infoResult = -1;
    Bytes info;
    Bytes request;
    Bytes r, s;
};

// Both halves around an OpenSSL signature, with the size query first.
Built Build(const Sm2Key& key, const std::string& subject) {
    Built out;
    unsigned char* info = nullptr;
    int32_t infoLength = 0;
    out.infoResult =
        SM2ConstructP10Info(subject.c_str(), key.x.data(), key.y.data(), &info, &infoLength);
    if (out.infoResult != 0) return out;
    out.info.assign(info, info + infoLength);
    Sign(key.key, info, static_cast<size_t>(infoLength), out.r, out.s);
    uint32_t size = 0;
    EXPECT_EQ(
        SM2ConstructP10(&info, infoLength, 0x20400, out.r.data(), out.s.data(), nullptr, &size), 0);
    EXPECT_NE(info, nullptr);  // a size query keeps the buffer
    out.request.assign(size, 0);
    uint32_t written = 0;
    EXPECT_EQ(SM2ConstructP10(&info, infoLength, 0x20400, out.r.data(), out.s.data(),
                              out.request.data(), &written),
              0);
    EXPECT_EQ(written, size);
    EXPECT_EQ(info, nullptr);  // released after the request was written
    return out;
}

X509_REQ* Parse(const Bytes& der) {
    const unsigned char* p = der.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
    EXPECT_EQ(p, der.data() + der.size());
    return req;
}

bool Verifies(X509_REQ* req) {
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>(kSm2Id), 16);
    X509_REQ_set0_distinguishing_id(req, id);
    return X509_REQ_verify(req, X509_REQ_get0_pubkey(req)) == 1;
}

struct Entry {
    std::string oid;
    int type;
    std::string value;
};

std::vector<Entry> Subject(X509_REQ* req) {
    std::vector<Entry> out;
    X509_NAME* name = X509_REQ_get_subject_name(req);
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        char oid[64];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(e), 1);
        ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
        EXPECT_EQ(X509_NAME_ENTRY_set(e), i);  // one attribute per RDN
        out.push_back({oid, ASN1_STRING_type(v),
                       std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(v)),
                                   static_cast<size_t>(ASN1_STRING_length(v)))});
    }
    return out;
}

std::vector<Entry> SubjectOf(const std::string& subject) {
    Sm2Key key;
    Built built = Build(key, subject);
    EXPECT_EQ(built.infoResult, 0) << subject;
    X509_REQ* req = Parse(built.request);
    if (req == nullptr) return {};
    EXPECT_TRUE(Verifies(req)) << subject;
    std::vector<Entry> entries = Subject(req);
    X509_REQ_free(req);
    return entries;
}

int InfoResult(const std::string& subject, unsigned char** info) {
    Bytes x(32, 1), y(32, 2);
    int32_t len = -7;
    int rc = SM2ConstructP10Info(subject.c_str(), x.data(), y.data(), info, &len);
    if (rc != 0) {
        EXPECT_EQ(len, -7) << subject;
    }
    return rc;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

TEST(RequestBuilder, RequestVerifiesAndCarriesSubjectKeyAndAlgorithm) {
    Sm2Key key;
    Built built = Build(key, "CN=user1,C=CN,O=org1");
    ASSERT_EQ(built.infoResult, 0);
    X509_REQ* req = Parse(built.request);
    ASSERT_NE(req, nullptr);
    EXPECT_TRUE(Verifies(req));
    EXPECT_EQ(X509_REQ_get_version(req), 0);
    EXPECT_EQ(X509_REQ_get_attr_count(req), 0);
    EXPECT_EQ(X509_REQ_get_signature_nid(req), NID_SM2_with_SM3);
    const X509_ALGOR* alg = nullptr;
    X509_REQ_get0_signature(req, nullptr, &alg);
    int paramType = 0;
    X509_ALGOR_get0(nullptr, &paramType, nullptr, alg);
    EXPECT_EQ(paramType, V_ASN1_UNDEF);  // no parameters field
    EXPECT_EQ(EVP_PKEY_eq(X509_REQ_get0_pubkey(req), key.key), 1);

    std::vector<Entry> subject = Subject(req);
    ASSERT_EQ(subject.size(), 3u);
    EXPECT_EQ(subject[0].oid, "2.5.4.3");
    EXPECT_EQ(subject[0].type, V_ASN1_UTF8STRING);
    EXPECT_EQ(subject[0].value, "user1");
    EXPECT_EQ(subject[1].oid, "2.5.4.6");
    EXPECT_EQ(subject[1].type, V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(subject[1].value, "CN");
    EXPECT_EQ(subject[2].oid, "2.5.4.10");
    EXPECT_EQ(subject[2].value, "org1");
    X509_REQ_free(req);

    // The fixed public-key part, the point, and the empty attributes at the end.
    Bytes spki = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                  0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x81, 0x1C,
                  0xCF, 0x55, 0x01, 0x82, 0x2D, 0x03, 0x42, 0x00, 0x04};
    spki.insert(spki.end(), key.x.begin(), key.x.end());
    spki.insert(spki.end(), key.y.begin(), key.y.end());
    EXPECT_TRUE(Contains(built.info, spki));
    EXPECT_EQ(Bytes(built.info.end() - 2, built.info.end()), (Bytes{0xA0, 0x00}));
    // The request begins with the to-be-signed bytes, unchanged.
    EXPECT_TRUE(Contains(
        Bytes(built.request.begin(), built.request.begin() + 4 + built.info.size()), built.info));
}

TEST(RequestBuilder, SubjectPartsAndValues) {
    std::vector<Entry> four = SubjectOf("CN=user1,C=CN,O=org1,OU=unit1");
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[3].oid, "2.5.4.11");
    EXPECT_EQ(four[3].type, V_ASN1_UTF8STRING);
    EXPECT_EQ(four[3].value, "unit1");

    std::vector<Entry> five = SubjectOf("CN=user1,C=CN,O=org1,OU=unit1,L=city");
    ASSERT_EQ(five.size(), 3u);
    EXPECT_EQ(five[2].value, "org1");

    std::vector<Entry> equals = SubjectOf("CN=a=b,C=CN,O=x=y=z");
    ASSERT_EQ(equals.size(), 3u);
    EXPECT_EQ(equals[0].value, "a");
    EXPECT_EQ(equals[2].value, "x");

    // A Chinese name in the default code page (GBK) reads back as UTF-8. (Windows defaults to the
    // system's ANSI code page instead: name GBK there.)
#if defined(_WIN32)
    SetCodePage("GBK");
#else
    SetCodePage(nullptr);
#endif
    std::vector<Entry> chinese = SubjectOf("CN=\xD5\xC5\xC8\xFD,C=CN,O=\xB2\xE2\xCA\xD4");
    ASSERT_EQ(chinese.size(), 3u);
    EXPECT_EQ(chinese[0].value, "\xE5\xBC\xA0\xE4\xB8\x89");  // 张三
    EXPECT_EQ(chinese[2].value, "\xE6\xB5\x8B\xE8\xAF\x95");  // 测试

    std::vector<Entry> longest = SubjectOf("CN=u,C=" + std::string(255, 'A') + ",O=o");
    ASSERT_EQ(longest.size(), 3u);
    EXPECT_EQ(longest[1].value.size(), 255u);
}

TEST(RequestBuilder, BadSubjectsFailWithoutOutput) {
    for (const char* subject :
         {"CN=user1, C=CN, O=org1", "C=CN,CN=user1,O=org1", "CN=user1,C=CN",
          "CN=user1,C=CN,O=org1,L=city", "CN=user1,C=CN,O=org1,", "cn=user1,C=CN,O=org1", ""}) {
        unsigned char* info = nullptr;
        EXPECT_EQ(InfoResult(subject, &info), -1) << subject;
        EXPECT_EQ(info, nullptr) << subject;
    }
    // A country value longer than 255 bytes is refused instead of overrunning its area.
    unsigned char* info = nullptr;
    EXPECT_EQ(InfoResult("CN=u,C=" + std::string(256, 'A') + ",O=o", &info), -1);
    EXPECT_EQ(info, nullptr);
    // An unknown code page cannot convert the names.
    SetCodePage("NO-SUCH-CODEPAGE");
    EXPECT_EQ(InfoResult("CN=u,C=CN,O=o", &info), -1);
    SetCodePage(nullptr);
    EXPECT_EQ(info, nullptr);
}

TEST(RequestBuilder, MissingArgumentsFail) {
    Bytes x(32, 1), y(32, 2), r(32, 3), s(32, 4);
    unsigned char* info = nullptr;
    int32_t infoLength = 0;
    uint32_t size = 0;
    EXPECT_EQ(SM2ConstructP10Info(nullptr, x.data(), y.data(), &info, &infoLength), -1);
    EXPECT_EQ(SM2ConstructP10Info("CN=u,C=CN,O=o", nullptr, y.data(), &info, &infoLength), -1);
    EXPECT_EQ(SM2ConstructP10(nullptr, 10, 0, r.data(), s.data(), nullptr, &size), -1);
    EXPECT_EQ(SM2ConstructP10(&info, 10, 0, r.data(), s.data(), nullptr, &size),
              -1);  // points to null
    ASSERT_EQ(SM2ConstructP10Info("CN=u,C=CN,O=o", x.data(), y.data(), &info, &infoLength), 0);
    EXPECT_EQ(SM2ConstructP10(&info, infoLength, 0, nullptr, s.data(), nullptr, &size), -1);
    Bytes request(1024);
    ASSERT_EQ(SM2ConstructP10(&info, infoLength, 0, r.data(), s.data(), request.data(), &size), 0);
    EXPECT_EQ(info, nullptr);
}

// The INTEGER of r in the request's signature value: its content bytes.
Bytes EncodedR(X509_REQ* req) {
    const ASN1_BIT_STRING* sig = nullptr;
    X509_REQ_get0_signature(req, &sig, nullptr);
    const unsigned char* d = ASN1_STRING_get0_data(sig);
    EXPECT_EQ(d[0], 0x30);
    EXPECT_EQ(d[2], 0x02);
    return Bytes(d + 4, d + 4 + d[3]);
}

TEST(RequestBuilder, SignatureValuesAreMinimalIntegersAndVerify) {
    Sm2Key key;
    bool sawHigh = false, sawZero = false;
    for (int i = 0; i < 20000 && !(sawHigh && sawZero); ++i) {
        Built built = Build(key, "CN=user" + std::to_string(i) + ",C=CN,O=org1");
        ASSERT_EQ(built.infoResult, 0);
        bool high = built.r[0] >= 0x80, zero = built.r[0] == 0x00;
        if (!(high && !sawHigh) && !(zero && !sawZero)) continue;
        X509_REQ* req = Parse(built.request);
        ASSERT_NE(req, nullptr);
        EXPECT_TRUE(Verifies(req)) << "r begins with " << int(built.r[0]);
        Bytes r = EncodedR(req);
        if (high) {
            sawHigh = true;
            ASSERT_EQ(r.size(), 33u);
            EXPECT_EQ(r[0], 0x00);
            EXPECT_EQ(Bytes(r.begin() + 1, r.end()), built.r);
        } else {
            sawZero = true;
            ASSERT_LT(r.size(), 33u);
            EXPECT_TRUE(r[0] != 0x00 || (r.size() > 1 && r[1] >= 0x80));
            EXPECT_EQ(Bytes(built.r.end() - r.size(), built.r.end()), r);
        }
        X509_REQ_free(req);
    }
    EXPECT_TRUE(sawHigh);
    EXPECT_TRUE(sawZero);
}

TEST(RequestBuilder, OpensslCommandLineVerifiesTheRequest) {
#if defined(_WIN32)
    GTEST_SKIP() << "the openssl command line is a program of the Linux side; the Linux suite checks the "
                    "request with it";
#endif
    Sm2Key key;
    Built built = Build(key, "CN=cli,C=CN,O=org1,OU=unit1");
    X509_REQ* req = Parse(built.request);
    ASSERT_NE(req, nullptr);
    std::string dir = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string path = dir + "/vornic-req-" + std::to_string(getpid()) + ".pem";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    PEM_write_X509_REQ(f, req);
    std::fclose(f);
    X509_REQ_free(req);
    std::string command =
        "openssl req -in '" + path + "' -noout -verify -vfyopt distid:" + kSm2Id + " 2>&1";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out)) text += buf;
    EXPECT_EQ(pclose(out), 0) << text;
    EXPECT_NE(text.find("verify OK"), std::string::npos) << text;
    std::remove(path.c_str());
}

}  // namespace
