// Signatures made with software keys, each checked by a verifier nobody here wrote (the
// openssl command line or OpenSSL's own verification), with cloudsim as the time service.
#include <gtest/gtest.h>
#include <openssl/ecdsa.h>
#include <openssl/engine.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloudsim_rig.h"
#include "devices/key_manager.h"
#include "gmcrypto/key_objects.h"
#include "gmcrypto/sm2_message.h"
#include "key_rig.h"
#include "tessal/cert_info.h"
#include "tessal/cert_requests.h"
#include "tessal/devices.h"
#include "tessal/engine.h"
#include "tessal/result.h"
#include "tessal/signing.h"
#include "test_support.h"
#include "token/skf_ukey.h"

using namespace test_support;

namespace {

const std::string kBuiltin = TESSAL_BUILTIN_CERTS_DIR;
const char kId[] = "1234567812345678";

std::string Sha256(const std::string& s) {
    unsigned char d[32];
    unsigned len = 0;
    EVP_Digest(s.data(), s.size(), d, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(d), 32);
}

std::string Sm3(const std::string& s) {
    unsigned char d[32];
    unsigned len = 0;
    EVP_Digest(s.data(), s.size(), d, &len, EVP_sm3(), nullptr);
    return std::string(reinterpret_cast<char*>(d), 32);
}

std::string B64(const std::string& s) { return Base64Encode(ByteArray(s.data(), static_cast<int>(s.size()))); }
std::string Raw(const std::string& b64) {
    ByteArray b = Base64Decode(b64);
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.length()));
}

int Shell(const std::string& command) { return system((command + " > /dev/null 2>&1").c_str()); }

bool VerifySm2WithId(EVP_PKEY* key, const std::string& msg, const std::string& der) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, kId, 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
              EVP_DigestVerify(md, reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                               reinterpret_cast<const unsigned char*>(msg.data()), msg.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

bool VerifySm2Plain(EVP_PKEY* key, const std::string& e, const std::string& der) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 &&
              EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                              reinterpret_cast<const unsigned char*>(e.data()), e.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

class SigningTest : public KeyRigTest {
protected:
    void SetUp() override {
        KeyRigTest::SetUp();
        m_sim.reset(new CloudSim(m_dir + "/cloudsim"));
        InstallDriver("SKF_APP.dll");
        InstallDriver("gdca_dal_ecc27.dll");
        m_rootPem = kBuiltin + "/dev-standin-uca-root-g2.pem";
    }
    // An RSA key whose certificate was issued under "SHECA G2", the PIN verified.
    void UseRsaKey(const std::string& serial = "RSA1") {
        AddKey(serial, "1D99&0001");
        Softkey("container create " + serial + " CntRSA rsa2048");
        EVP_PKEY* ca = LoadPemKey(kBuiltin + "/test-only-keys/dev-standin-sheca-g2.key");
        CertSpec spec;
        spec.subjectCN = "RSA signer";
        spec.issuerC = "CN";
        spec.issuerO = "UniTrust";
        spec.issuerCN = "SHECA G2";
        m_certB64 = IssueOnKey(serial, "CntRSA", spec, ca);
        EVP_PKEY_free(ca);
        ASSERT_EQ(ZYKVerifyPin("12345678", serial), -1);
    }
    // An SM2 key with a certificate of a test SM2 CA, the PIN verified.
    void UseSm2Key(const std::string& serial = "SM21", const std::string& vpid = "1D99&0001") {
        AddKey(serial, vpid);
        Softkey("container create " + serial + " CntSM2 sm2");
        EVP_PKEY* ca = NewSm2Key();
        CertSpec spec;
        spec.subjectCN = "SM2 signer";
        spec.issuerCN = "Test SM2 CA";
        m_certB64 = IssueOnKey(serial, "CntSM2", spec, ca);
        EVP_PKEY_free(ca);
        ASSERT_EQ(ZYKVerifyPin("12345678", serial), -1);
    }
    EVP_PKEY* CertKey() {
        ByteArray der = Base64Decode(m_certB64);
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, der.length());
        EVP_PKEY* key = X509_get_pubkey(cert);
        X509_free(cert);
        return key;
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    SkfUKey* Current() { return dynamic_cast<SkfUKey*>(UKeyManager::GetInstance().GetCurrentUKey().get()); }

    std::unique_ptr<CloudSim> m_sim;
    std::string m_certB64, m_rootPem;
};

struct Pkcs7Deleter {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};

std::unique_ptr<PKCS7, Pkcs7Deleter> ParsePkcs7(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    return std::unique_ptr<PKCS7, Pkcs7Deleter>(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
}

TEST_F(SigningTest, RsaPkcs7VerifiesWithOpenSslCmsAndCarriesItsChainAndTimeStamp) {
    UseRsaKey();
    const std::string content = "合同正文 contract body\n";
    std::string attached, detached;
    ASSERT_TRUE(ZYKSignP7(B64(content), attached, 0)) << ZYKGetLastError();
    ASSERT_TRUE(ZYKSignP7(B64(content), detached, 1)) << ZYKGetLastError();
    std::string attachedFile = Write("attached.p7", Raw(attached)), detachedFile = Write("detached.p7", Raw(detached));
    std::string contentFile = Write("content.txt", content);
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + attachedFile + " -CAfile " + m_rootPem +
                  " -purpose any -out " + m_dir + "/out.txt"), 0);
    std::ifstream out(m_dir + "/out.txt");
    std::stringstream got;
    got << out.rdbuf();
    EXPECT_EQ(got.str(), content);
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + detachedFile + " -content " + contentFile + " -CAfile " +
                  m_rootPem + " -purpose any"), 0);
    EXPECT_NE(Shell("openssl cms -verify -binary -inform DER -in " + detachedFile + " -content " + Write("other.txt", "x") +
                  " -CAfile " + m_rootPem + " -purpose any"), 0);

    auto p7 = ParsePkcs7(Raw(detached));
    ASSERT_TRUE(p7);
    EXPECT_EQ(sk_X509_num(p7->d.sign->cert), 3);  // signer, SHECA G2, UCA Root G2
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    ASN1_TYPE* token = PKCS7_get_attribute(si, NID_id_smime_aa_timeStampToken);
    ASSERT_NE(token, nullptr);
    ASSERT_EQ(token->type, V_ASN1_SEQUENCE);
    std::string tokenFile = Write("token.der", std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(token->value.sequence)),
                                                           ASN1_STRING_length(token->value.sequence)));
    std::string sigFile = Write("sig.bin", std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(si->enc_digest)),
                                                       ASN1_STRING_length(si->enc_digest)));
    EXPECT_EQ(Shell("openssl ts -verify -token_in -in " + tokenFile + " -data " + sigFile + " -CAfile " + m_sim->CaFile() +
                  " -untrusted " + m_sim->TsaCertFile()), 0);

    EXPECT_TRUE(ZYKVerifySignData(B64(content), detached, ""));
    EXPECT_FALSE(ZYKVerifySignData("", detached, ""));
    EXPECT_FALSE(ZYKVerifySignData(B64(content + "!"), detached, ""));
    EXPECT_TRUE(ZYKVerifySignData("", attached, ""));
    EXPECT_FALSE(ZYKVerifySignData("", B64("not a pkcs7"), ""));

    // Without a time service the signature is still made, without unsigned attributes.
    m_sim->Stop();
    std::string plain;
    ASSERT_TRUE(ZYKSignP7(B64(content), plain, 1));
    auto p7b = ParsePkcs7(Raw(plain));
    si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7b.get()), 0);
    EXPECT_EQ(si->unauth_attr, nullptr);
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + Write("plain.p7", Raw(plain)) + " -content " + contentFile +
                  " -CAfile " + m_rootPem + " -purpose any"), 0);
}

// What the library writes to standard output while a signature is made.
std::string StdoutOf(const std::function<void()>& run) {
    std::string path = MakeTempDir("stdout-") + "/out.txt";
    std::fflush(stdout);
    int saved = dup(1);
    FILE* file = std::fopen(path.c_str(), "w");
    dup2(fileno(file), 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::fclose(file);
    return ReadFile(path);
}

TEST_F(SigningTest, TheConsoleLinesCanBeSwitchedOff) {
    UseRsaKey();
    std::string p7;
    auto sign = [&] { ASSERT_TRUE(ZYKSignP7(B64("content"), p7, 1)) << ZYKGetLastError(); };
    EXPECT_NE(StdoutOf(sign).find("in VUV_rsa_priv_enc\n"), std::string::npos);
    setenv("TESSAL_CONSOLE", "0", 1);
    EXPECT_EQ(StdoutOf(sign), "");
    unsetenv("TESSAL_CONSOLE");
}

TEST_F(SigningTest, RsaDigestSignatureAndRawSignature) {
    UseRsaKey();
    const std::string content = "digest me";
    std::string digest = B64(Sha256(content)), p7;
    ASSERT_TRUE(ZYKSignDigest(digest, p7)) << ZYKGetLastError();
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + Write("d.p7", Raw(p7)) + " -content " +
                  Write("c.txt", content) + " -CAfile " + m_rootPem + " -purpose any"), 0);
    EXPECT_TRUE(ZYKVerifySignData(B64(content), p7, ""));

    std::string short20 = B64(std::string(20, 'x')), unchanged = "unchanged";
    EXPECT_FALSE(ZYKSignDigest(short20, unchanged));
    EXPECT_EQ(unchanged, "unchanged");
    ByteArray out;
    CResult r = Current()->SignDigest(ByteArray("12345678901234567890", 20), out);
    EXPECT_EQ(r.ErrorCode(), 999);
    EXPECT_EQ(r.GetErrorMsg(), "digest length is not properly");

    std::string data = "raw bytes\x01\x02", sig;
    ASSERT_TRUE(ZYKSignData(data, "12345678", sig));
    EVP_PKEY* pub = CertKey();
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    std::string rawSig = Raw(sig);
    EXPECT_EQ(EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, pub), 1);
    EXPECT_EQ(EVP_DigestVerify(md, reinterpret_cast<const unsigned char*>(rawSig.data()), rawSig.size(),
                               reinterpret_cast<const unsigned char*>(data.data()), data.size()), 1);
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(pub);
    EXPECT_FALSE(ZYKSignData(data, "00000000", sig));
    EXPECT_EQ(ZYKGetLastError(), "密码不正确");
}

TEST_F(SigningTest, SigningNeedsAVerifiedPin) {
    UseRsaKey();
    ZYKVerifyPin("bad-pin", "");
    std::string out = "kept";
    EXPECT_FALSE(ZYKSignP7(B64("x"), out, 0));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_FALSE(ZYKSignData(out, "12345678", out));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_FALSE(ZYKSignSeal(B64("x"), out));
    EXPECT_EQ(out, "kept");
    EXPECT_NE(LogText().find("start checknull"), std::string::npos);
    EXPECT_NE(LogText().find("start checkpin"), std::string::npos);
}

TEST_F(SigningTest, Sm2SealAndDigestSignaturesVerifyWithOpenSsl) {
    UseSm2Key();
    EVP_PKEY* pub = CertKey();
    const std::string seal = "印章数据 seal bytes";
    std::string sig;
    ASSERT_TRUE(ZYKSignSeal(B64(seal), sig)) << ZYKGetLastError();
    std::string der = Raw(sig);
    EXPECT_GE(der.size(), 70u);
    EXPECT_LE(der.size(), 72u);
    EXPECT_TRUE(VerifySm2WithId(pub, seal, der));
    EXPECT_FALSE(VerifySm2WithId(pub, seal + "x", der));

    SkfUKey* key = Current();
    ASSERT_EQ(key->GetCertData().ErrorCode(), 0);
    bool saw71 = false;
    for (int i = 0; i < 64 && !saw71; ++i) {
        std::string e = Sm3("value " + std::to_string(i));
        ByteArray digest(e.data(), 32), out;
        ASSERT_EQ(key->SM2SignDigest(digest, out).ErrorCode(), 0);
        std::string s(reinterpret_cast<const char*>(out.data()), out.length());
        EXPECT_TRUE(VerifySm2Plain(pub, e, s));  // no Z: the key signs the value itself
        EXPECT_EQ(key->SM2VerifyDigest(digest, out).ErrorCode(), 0);
        if (out.length() == 71) saw71 = true;
        ByteArray other(Sm3("other").data(), 32);
        EXPECT_EQ(key->SM2VerifyDigest(other, out).ErrorCode(), 50);
    }
    EXPECT_TRUE(saw71);  // a signature with one short value verifies too
    EVP_PKEY_free(pub);
}

TEST_F(SigningTest, Sm2SignedMessagesRoundTripAndVerifyIndependently) {
    UseSm2Key();
    EVP_PKEY* pub = CertKey();
    const std::string content = "SM2 signed content";
    std::string digest = B64(content), message;
    ASSERT_TRUE(ZYKSignDigest(digest, message)) << ZYKGetLastError();  // SM2 key: a signed message
    std::string der = Raw(message);
    std::string dump;
    {
        std::string file = Write("m.der", der);
        FILE* pipe = popen(("openssl asn1parse -inform DER -in " + file).c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) dump.append(buf, n);
        pclose(pipe);
    }
    EXPECT_NE(dump.find("1.2.156.10197.6.1.4.2.2"), std::string::npos) << dump;
    EXPECT_NE(dump.find("1.2.156.10197.6.1.4.2.1"), std::string::npos);
    EXPECT_NE(dump.find("sm3"), std::string::npos);
    EXPECT_NE(dump.find("SM2-with-SM3"), std::string::npos);

    SkfUKey* key = Current();
    ByteArray m(der.data(), static_cast<int>(der.size())), c(content.data(), static_cast<int>(content.size()));
    EXPECT_EQ(key->VerifySM2P7(m, c).ErrorCode(), 0);
    // The signature inside covers SM3 of the content, without Z.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    SM2M* parsed = d2i_SM2M(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(parsed, nullptr);
    SM2M_SIGNER_INFO* si = sk_SM2M_SIGNER_INFO_value(SM2M_get_signer_info(parsed), 0);
    std::string sig(reinterpret_cast<const char*>(ASN1_STRING_get0_data(si->enc_digest)), ASN1_STRING_length(si->enc_digest));
    EXPECT_TRUE(VerifySm2Plain(pub, Sm3(content), sig));
    SM2M_free(parsed);

    // The verification removed the engine; signing registers it again.
    ENGINE* engine = ENGINE_by_id("VUV");
    EXPECT_EQ(engine, nullptr);
    if (engine) ENGINE_free(engine);
    ByteArray tampered(content.data(), static_cast<int>(content.size()) - 1);
    EXPECT_EQ(key->VerifySM2P7(m, tampered).ErrorCode(), 38);
    ASSERT_TRUE(ZYKSignDigest(digest, message)) << ZYKGetLastError();
    EXPECT_EQ(key->VerifySM2P7(m, tampered).ErrorCode(), 59);
    Engine::InitRsaEngine();
    ByteArray junk("junk", 4);
    EXPECT_EQ(key->VerifySM2P7(junk, c).ErrorCode(), 44);
    EVP_PKEY_free(pub);
}

TEST_F(SigningTest, Sm2DigestMessagesVerifyAgainstTheirDigest) {
    UseSm2Key();
    EVP_PKEY* pub = CertKey();
    std::string digest = B64(Sm3("the document")), message;
    ASSERT_TRUE(ZYKSignSM2Digest(digest, message)) << ZYKGetLastError();
    std::string cert, time;
    ASSERT_TRUE(ZYKVerifySM2Digest(digest, message, cert, time));
    EXPECT_EQ(cert, m_certB64);
    EXPECT_FALSE(time.empty());  // the signer carries a time-stamp token
    std::string other = B64(Sm3("another document"));
    EXPECT_FALSE(ZYKVerifySM2Digest(other, message, cert, time));

    // The signature inside covers the DER of the signed attributes, with Z.
    std::string der = Raw(message);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    SM2M* parsed = d2i_SM2M(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(parsed, nullptr);
    SM2M_SIGNER_INFO* si = sk_SM2M_SIGNER_INFO_value(SM2M_get_signer_info(parsed), 0);
    unsigned char* attrs = nullptr;
    int len = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &attrs, ASN1_ITEM_rptr(SM2M_ATTR_SIGN));
    std::string sig(reinterpret_cast<const char*>(ASN1_STRING_get0_data(si->enc_digest)), ASN1_STRING_length(si->enc_digest));
    EXPECT_TRUE(VerifySm2WithId(pub, std::string(reinterpret_cast<char*>(attrs), len), sig));
    OPENSSL_free(attrs);
    SM2M_free(parsed);

    // Without a time service: still valid, no signing time.
    m_sim->Stop();
    ASSERT_TRUE(ZYKSignSM2Digest(digest, message));
    ASSERT_TRUE(ZYKVerifySM2Digest(digest, message, cert, time));
    EXPECT_EQ(time, "");

    std::string shortDigest = B64(std::string(20, 'a'));
    EXPECT_FALSE(ZYKSignSM2Digest(shortDigest, message));
    EVP_PKEY_free(pub);
}

TEST_F(SigningTest, Sm2MessagesWithoutSignedAttributesVerifyOverTheirSm3Value) {
    UseSm2Key();
    // ZYKSignDigest on an SM2 key signs SM3 of the value it is given, with no attributes and no Z.
    const std::string value = Sm3("the document");
    std::string input = B64(value), message;
    ASSERT_TRUE(ZYKSignDigest(input, message)) << ZYKGetLastError();
    std::string cert, time;
    EXPECT_TRUE(ZYKVerifySM2Digest(B64(Sm3(value)), message, cert, time));
    EXPECT_EQ(cert, m_certB64);
    EXPECT_EQ(time, "");
    // Another digest, the value itself, or a tampered SM3 value are refused.
    std::string tampered = Sm3(value);
    tampered[5] ^= 0x01;
    EXPECT_FALSE(ZYKVerifySM2Digest(B64(tampered), message, cert, time));
    EXPECT_FALSE(ZYKVerifySM2Digest(B64(value), message, cert, time));
    EXPECT_FALSE(ZYKVerifySM2Digest(B64(Sm3("another document")), message, cert, time));
    // The other way: a message with signed attributes still verifies against its digest only.
    std::string withAttributes;
    ASSERT_TRUE(ZYKSignSM2Digest(B64(value), withAttributes)) << ZYKGetLastError();
    EXPECT_TRUE(ZYKVerifySM2Digest(B64(value), withAttributes, cert, time));
    EXPECT_FALSE(ZYKVerifySM2Digest(B64(Sm3(value)), withAttributes, cert, time));
}

// A signed message that names its type but carries no content (found by fuzzing).
TEST(Sm2MessageDecoding, ASignedMessageWithoutItsContentIsRefused) {
    const unsigned char der[] = {0x30, 0x0c, 0x06, 0x0a, 0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x06, 0x01, 0x04, 0x02, 0x02};
    const unsigned char* p = der;
    SM2M* message = d2i_SM2M(nullptr, &p, sizeof der);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(SM2M_get_signer_info(message), nullptr);
    EXPECT_EQ(SM2M_add_certificate(message, nullptr), 0);
    SM2M_free(message);
    std::string certificate, signingTime;
    const std::string digest(32, 'd');
    EXPECT_FALSE(ZYKVerifySM2Digest(Base64Encode(ByteArray(digest.data(), 32)),
                                    Base64Encode(ByteArray(der, sizeof der)), certificate, signingTime));
}

TEST_F(SigningTest, OneRetryForTheLibraryThatNeedsIt) {
    UseSm2Key("GD01", "163C&0423");
    EXPECT_EQ(ZYKLibName(), "gdca_dal_ecc27.dll");
    Softkey("fault GD01 SKF_ECCSignData 0x0A000001");
    SkfUKey* key = Current();
    ASSERT_EQ(key->GetCertData().ErrorCode(), 0);
    std::string e = Sm3("retry");
    ByteArray digest(e.data(), 32), out;
    EXPECT_EQ(key->SM2SignDigest(digest, out).ErrorCode(), 0);
    EXPECT_NE(LogText().find("Remove Ukey over"), std::string::npos);
    EXPECT_NE(LogText().find("getCert over"), std::string::npos);
}

TEST_F(SigningTest, OtherLibrariesFailAtOnce) {
    UseSm2Key();
    Softkey("fault SM21 SKF_ECCSignData 0x0A000001");
    SkfUKey* key = Current();
    ASSERT_EQ(key->GetCertData().ErrorCode(), 0);
    std::string e = Sm3("no retry");
    ByteArray digest(e.data(), 32), out;
    EXPECT_EQ(key->SM2SignDigest(digest, out).ErrorCode(), 50);
    EXPECT_EQ(ZYKGetLastError(), "SM2签名失败");
}

TEST_F(SigningTest, TheKeyBackedMethodNeedsAnIdentifierForDigestSigning) {
    UseSm2Key();
    SkfUKey* key = Current();
    ASSERT_EQ(key->GetCertData().ErrorCode(), 0);
    EVP_PKEY* backed = nullptr;
    {
        ByteArray der = Base64Decode(m_certB64);
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, der.length());
        backed = KeyBackedSm2FromCertificate(cert);
        X509_free(cert);
    }
    ASSERT_NE(backed, nullptr);
    const std::string msg = "digest-signed through the engine";
    unsigned char sig[80];
    for (bool withId : {false, true}) {
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        EVP_PKEY_CTX* pctx = nullptr;
        ASSERT_EQ(EVP_DigestSignInit(md, &pctx, EVP_sm3(), nullptr, backed), 1);
        if (withId) {
            ASSERT_GT(EVP_PKEY_CTX_ctrl(pctx, -1, -1, 0x100B, 16, const_cast<char*>(kId)), 0);
        }
        size_t sigLen = sizeof sig;
        int rc = EVP_DigestSignUpdate(md, msg.data(), msg.size()) == 1 ? EVP_DigestSignFinal(md, sig, &sigLen) : 0;
        EVP_MD_CTX_free(md);
        if (!withId) {
            EXPECT_NE(rc, 1);
            continue;
        }
        ASSERT_EQ(rc, 1);
        EVP_PKEY* pub = CertKey();
        EXPECT_TRUE(VerifySm2WithId(pub, msg, std::string(reinterpret_cast<char*>(sig), sigLen)));
        EVP_PKEY_free(pub);
    }
    EVP_PKEY_free(backed);
}

TEST_F(SigningTest, SignedDataOpenSslCannotBuildIsAFailureNotAnEmptySuccess) {
    UseSm2Key();  // an SM2 certificate cannot carry an RSA signer
    SkfUKey* key = Current();
    ASSERT_EQ(key->GetCertData().ErrorCode(), 0);
    std::string p7 = "kept";
    EXPECT_FALSE(ZYKSignP7(B64("content"), p7, 1));
    EXPECT_EQ(p7, "kept");
    EXPECT_EQ(ZYKGetLastError(), "PKCS7运算失败");
    ByteArray out;
    EXPECT_EQ(key->SignP7(ByteArray("content", 7), out, 0).ErrorCode(), 73);
    EXPECT_TRUE(out.IsEmpty());
    std::string e = Sha256("content");
    EXPECT_EQ(key->SignDigest(ByteArray(e.data(), 32), out).ErrorCode(), 73);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(LogCount("start PKCS7_SIGNER_INFO_sign"), 0u);  // nothing reached the key

    key->ReleaseKey();
    EXPECT_EQ(key->SignDigest(ByteArray(e.data(), 32), out).ErrorCode(), 25);
}

TEST_F(SigningTest, RawSigningFailsWhenTheKeyCannotHash) {
    UseRsaKey();
    std::string data = "to be hashed on the key", sig = "kept";
    for (const char* function : {"SKF_DigestInit", "SKF_Digest"}) {
        Softkey(std::string("fault RSA1 ") + function + " 0x0A000001");
        EXPECT_FALSE(ZYKSignData(data, "12345678", sig)) << function;
        EXPECT_EQ(sig, "kept");
        EXPECT_EQ(ZYKGetLastError(), "私钥加密数据失败");
    }
    EXPECT_TRUE(ZYKSignData(data, "12345678", sig));  // the faults were used up
}

// A library that signs the block as given receives it padded by the engine; a padding the
// engine cannot fill never reaches the key.
TEST_F(KeyRigTest, TheEngineRefusesPaddingsItCannotFillForTheLibraryThatSignsAsGiven) {
    InstallDriver("SafeEngine.dll");
    AddKey("SAFE1", "1D99&0001");
    Softkey("container create SAFE1 CntRSA rsa2048");
    std::unique_ptr<UsbKey> owned(new SkfUKey("SafeEngine.dll"));
    UsbKey* key = owned.get();
    ASSERT_TRUE(key->IsOpened());
    int retry = 0;
    ASSERT_EQ(key->VerifyPin("12345678", retry).ErrorCode(), 0);
    UKeyManager::GetInstance().AddKey(std::move(owned), false);
    ASSERT_EQ(UKeyManager::GetInstance().GetCurrentUKey().get(), key);

    // An RSA object carrying the engine's method, for the key's public key.
    EVP_PKEY* pub = ContainerPublicKey("SAFE1", "CntRSA");
    const RSA* plain = EVP_PKEY_get0_RSA(pub);
    ASSERT_NE(plain, nullptr);
    const BIGNUM *n = nullptr, *e = nullptr;
    RSA_get0_key(plain, &n, &e, nullptr);
    Engine::InitRsaEngine();
    ENGINE* engine = ENGINE_by_id("VUV");
    ASSERT_NE(engine, nullptr);
    RSA* rsa = RSA_new_method(engine);
    ENGINE_free(engine);
    ASSERT_EQ(RSA_set0_key(rsa, BN_dup(n), BN_dup(e), nullptr), 1);

    // What the key signed is recovered with the public key: the full 256-byte block it was given.
    auto blockSigned = [&](const unsigned char* sig) {
        std::vector<unsigned char> block(256);
        int n = RSA_public_decrypt(256, sig, block.data(), const_cast<RSA*>(plain), RSA_NO_PADDING);
        block.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return block;
    };
    unsigned char from[51] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    for (size_t i = 19; i < sizeof from; ++i) from[i] = static_cast<unsigned char>(i);
    unsigned char to[256];
    // PKCS#1 type 1: 00 01 FF.. 00 and the value; the result is the standard signature of it.
    ASSERT_EQ(RSA_private_encrypt(sizeof from, from, to, rsa, RSA_PKCS1_PADDING), 256);
    std::vector<unsigned char> block = blockSigned(to);
    ASSERT_EQ(block.size(), 256u);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_EQ(std::count(block.begin() + 2, block.end() - sizeof from - 1, 0xFF), 256 - 3 - static_cast<long>(sizeof from));
    EXPECT_EQ(block[256 - sizeof from - 1], 0x00);
    EXPECT_TRUE(std::equal(from, from + sizeof from, block.end() - sizeof from));
    unsigned char recovered[256];
    ASSERT_EQ(RSA_public_decrypt(256, to, recovered, const_cast<RSA*>(plain), RSA_PKCS1_PADDING), static_cast<int>(sizeof from));
    EXPECT_TRUE(std::equal(from, from + sizeof from, recovered));
    // No padding: the block is the value itself, which must fill the modulus.
    unsigned char full[256];
    for (size_t i = 0; i < sizeof full; ++i) full[i] = static_cast<unsigned char>(i == 0 ? 0 : i);
    ASSERT_EQ(RSA_private_encrypt(sizeof full, full, to, rsa, RSA_NO_PADDING), 256);
    block = blockSigned(to);
    EXPECT_TRUE(block.size() == 256 && std::equal(full, full + 256, block.begin()));
    EXPECT_EQ(RSA_private_encrypt(sizeof from, from, to, rsa, RSA_NO_PADDING), -1);  // too short to fill it
    // X9.31: 6B BB.. BA, the value, CC.
    unsigned char x931[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    ASSERT_EQ(RSA_private_encrypt(sizeof x931, x931, to, rsa, RSA_X931_PADDING), 256);
    ASSERT_EQ(RSA_public_decrypt(256, to, recovered, const_cast<RSA*>(plain), RSA_X931_PADDING), static_cast<int>(sizeof x931));
    EXPECT_TRUE(std::equal(x931, x931 + sizeof x931, recovered));
    size_t calls = LogCount("start SKF_RSASignData");
    EXPECT_EQ(calls, 3u);
    for (int padding : {RSA_PKCS1_OAEP_PADDING, RSA_PKCS1_PSS_PADDING, 42})
        EXPECT_EQ(RSA_private_encrypt(sizeof from, from, to, rsa, padding), -1) << padding;
    EXPECT_EQ(LogCount("start SKF_RSASignData"), calls);
    RSA_free(rsa);
    EVP_PKEY_free(pub);
}

// The signingTime attribute's bytes of a PKCS#7 signer: two signatures made within the same
// second carry the same value, and RSA signatures are deterministic, so their bytes must agree.
std::string SigningTimeOf(const std::string& p7Base64) {
    auto p7 = ParsePkcs7(Raw(p7Base64));
    if (!p7) return "unparsed";
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    ASN1_TYPE* time = si ? PKCS7_get_signed_attribute(si, NID_pkcs9_signingTime) : nullptr;
    if (!time || time->type != V_ASN1_UTCTIME) return "none";
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(time->value.utctime)),
                       ASN1_STRING_length(time->value.utctime));
}

// The subject common names of the certificates a PKCS#7 carries, in order.
std::vector<std::string> CertificateNames(const std::string& p7Base64) {
    std::vector<std::string> names;
    auto p7 = ParsePkcs7(Raw(p7Base64));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) return names;
    for (int i = 0; i < sk_X509_num(p7->d.sign->cert); ++i)
        names.push_back(CertInfo(sk_X509_value(p7->d.sign->cert, i)).getCN());
    return names;
}

TEST_F(SigningTest, SignaturesMadeWithTheKeptCertificateMaterialAreByteForByteThoseOfAFreshStart) {
    UseRsaKey();
    m_sim->Stop();  // no time-stamp: the output depends on the content, the key and the second only
    const std::string content = "the same content, signed again and again";
    std::string digest = B64(Sha256(content));
    bool compared = false;
    // A second boundary between the signatures changes signingTime; then they are made again.
    for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
        std::string first, kept, fresh, firstDigest, keptDigest, freshDigest;
        ASSERT_TRUE(ZYKSignP7(B64(content), first, 1)) << ZYKGetLastError();
        ASSERT_TRUE(ZYKSignDigest(digest, firstDigest)) << ZYKGetLastError();
        ASSERT_TRUE(ZYKSignP7(B64(content), kept, 1)) << ZYKGetLastError();
        ASSERT_TRUE(ZYKSignDigest(digest, keptDigest)) << ZYKGetLastError();
        // Writing the same certificate again makes the library read it and build everything anew.
        ASSERT_TRUE(ZYKImportCertFromWEB(m_certB64, "CntRSA")) << ZYKGetLastError();
        ASSERT_TRUE(ZYKSignP7(B64(content), fresh, 1)) << ZYKGetLastError();
        ASSERT_TRUE(ZYKSignDigest(digest, freshDigest)) << ZYKGetLastError();
        std::string second = SigningTimeOf(first);
        if (SigningTimeOf(kept) != second || SigningTimeOf(fresh) != second ||
            SigningTimeOf(firstDigest) != second || SigningTimeOf(keptDigest) != second ||
            SigningTimeOf(freshDigest) != second)
            continue;
        compared = true;
        EXPECT_EQ(kept, first);
        EXPECT_EQ(fresh, first);
        EXPECT_EQ(keptDigest, firstDigest);
        EXPECT_EQ(freshDigest, firstDigest);
        EXPECT_EQ(CertificateNames(kept),
                  (std::vector<std::string>{"RSA signer", "SHECA G2", "UCA Root G2"}));
        EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " +
                        Write("kept.p7", Raw(kept)) + " -content " + Write("same.txt", content) +
                        " -CAfile " + m_rootPem + " -purpose any"),
                  0);
        EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " +
                        Write("keptd.p7", Raw(keptDigest)) + " -content " +
                        Write("same.txt", content) + " -CAfile " + m_rootPem + " -purpose any"),
                  0);
    }
    EXPECT_TRUE(compared) << "no two signatures fell into the same second";
}

TEST_F(SigningTest, SignedDataIsByteForByteWhatOpenSslsOwnSignerMakes) {
    UseRsaKey();
    m_sim->Stop();  // no time-stamp
    for (int detached : {1, 0}) {
        std::string p7;
        ASSERT_TRUE(ZYKSignP7(B64("content for the reference"), p7, detached)) << ZYKGetLastError();
        std::string der = Raw(p7);
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
        std::unique_ptr<PKCS7, decltype(&PKCS7_free)> made(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())),
                                                           PKCS7_free);
        ASSERT_TRUE(made);
        PKCS7_SIGNER_INFO* ours = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(made.get()), 0);
        STACK_OF(X509)* certs = made->d.sign->cert;
        ASSERT_TRUE(ours && sk_X509_num(certs) == 3);
        // The same signed data made the plain OpenSSL way (PKCS7_add_signature copies the issuer's
        // name), with our attributes and signature value.
        X509* signer = sk_X509_value(certs, 0);
        std::unique_ptr<PKCS7, decltype(&PKCS7_free)> reference(PKCS7_new(), PKCS7_free);
        ASSERT_EQ(PKCS7_set_type(reference.get(), NID_pkcs7_signed), 1);
        PKCS7_SIGNER_INFO* si = PKCS7_add_signature(reference.get(), signer, X509_get0_pubkey(signer), EVP_sha256());
        ASSERT_TRUE(si);
        for (int i = 0; i < sk_X509_num(certs); ++i)
            ASSERT_EQ(PKCS7_add_certificate(reference.get(), sk_X509_value(certs, i)), 1);
        ASSERT_EQ(PKCS7_content_new(reference.get(), NID_pkcs7_data), 1);
        if (detached) {
            ASSERT_EQ(PKCS7_set_detached(reference.get(), 1), 1);
        } else {
            ASN1_OCTET_STRING* content = made->d.sign->contents->d.data;
            ASSERT_TRUE(content);
            ASSERT_EQ(ASN1_STRING_set(reference->d.sign->contents->d.data, ASN1_STRING_get0_data(content),
                                      ASN1_STRING_length(content)),
                      1);
        }
        ASSERT_EQ(PKCS7_set_signed_attributes(si, ours->auth_attr), 1);
        ASSERT_EQ(ASN1_STRING_set(si->enc_digest, ASN1_STRING_get0_data(ours->enc_digest),
                                  ASN1_STRING_length(ours->enc_digest)),
                  1);
        unsigned char* expected = nullptr;
        int length = i2d_PKCS7(reference.get(), &expected);
        ASSERT_GT(length, 0);
        EXPECT_TRUE(der == std::string(reinterpret_cast<char*>(expected), static_cast<size_t>(length)))
            << "detached " << detached;
        OPENSSL_free(expected);
    }
}

// The signed data OpenSSL's own signer makes for our certificates, with attributes of its own
// making for `signingTime` and `digest`, our signature value and our time-stamp token.
std::string OpenSslSignedData(PKCS7* ours, const std::string& digest, bool detached) {
    PKCS7_SIGNER_INFO* our = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(ours), 0);
    STACK_OF(X509)* certs = ours->d.sign->cert;
    ASN1_TYPE* time = PKCS7_get_signed_attribute(our, NID_pkcs9_signingTime);
    ASN1_TYPE* token = PKCS7_get_attribute(our, NID_id_smime_aa_timeStampToken);
    if (!time || time->type != V_ASN1_UTCTIME || !token || token->type != V_ASN1_SEQUENCE) return "";
    std::unique_ptr<PKCS7, Pkcs7Deleter> reference(PKCS7_new());
    X509* signer = sk_X509_value(certs, 0);
    PKCS7_SIGNER_INFO* si = nullptr;
    bool built = PKCS7_set_type(reference.get(), NID_pkcs7_signed) == 1 &&
                 (si = PKCS7_add_signature(reference.get(), signer, X509_get0_pubkey(signer), EVP_sha256())) != nullptr;
    for (int i = 0; built && i < sk_X509_num(certs); ++i)
        built = PKCS7_add_certificate(reference.get(), sk_X509_value(certs, i)) == 1;
    built = built && PKCS7_content_new(reference.get(), NID_pkcs7_data) == 1;
    if (built && detached) built = PKCS7_set_detached(reference.get(), 1) == 1;
    if (built && !detached) {
        ASN1_OCTET_STRING* content = ours->d.sign->contents->d.data;
        built = content && ASN1_STRING_set(reference->d.sign->contents->d.data, ASN1_STRING_get0_data(content),
                                           ASN1_STRING_length(content)) == 1;
    }
    built = built &&
            PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) == 1 &&
            PKCS7_add0_attrib_signing_time(si, ASN1_STRING_dup(time->value.utctime)) == 1 &&
            PKCS7_add1_attrib_digest(si, reinterpret_cast<const unsigned char*>(digest.data()),
                                     static_cast<int>(digest.size())) == 1 &&
            ASN1_STRING_set(si->enc_digest, ASN1_STRING_get0_data(our->enc_digest), ASN1_STRING_length(our->enc_digest)) == 1 &&
            PKCS7_add_attribute(si, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                ASN1_STRING_dup(token->value.sequence)) == 1;
    if (!built) return "";
    // Signing puts the attributes in their DER order; this does the same without a key.
    unsigned char* sorted = nullptr;
    if (ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &sorted, ASN1_ITEM_rptr(PKCS7_ATTR_SIGN)) <= 0)
        return "";
    OPENSSL_free(sorted);
    unsigned char* der = nullptr;
    int length = i2d_PKCS7(reference.get(), &der);
    std::string text = length > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)) : "";
    OPENSSL_free(der);
    return text;
}

TEST_F(SigningTest, AttributesAndTimeStampTokenAreThoseOpenSslsOwnSignerWrites) {
    UseRsaKey();  // the time service answers: every signature carries a token
    struct Case {
        const char* name;
        bool detached;
        bool fromDigest;
        size_t size;  // of the content; past 65535 bytes its lengths take three bytes
    };
    for (Case c : {Case{"detached", true, false, 40}, Case{"attached", false, false, 40},
                   Case{"digest", true, true, 40}, Case{"large attached", false, false, 70000}}) {
        const std::string content = std::string("content signed with its time-stamp ") + std::string(c.size, 'c');
        const std::string digest = Sha256(content);
        std::string p7, digestB64 = B64(digest);
        ASSERT_TRUE(c.fromDigest ? ZYKSignDigest(digestB64, p7) : ZYKSignP7(B64(content), p7, c.detached ? 1 : 0))
            << c.name << ": " << ZYKGetLastError();
        std::string der = Raw(p7);
        auto made = ParsePkcs7(der);
        ASSERT_TRUE(made) << c.name;
        PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(made.get()), 0);
        ASSERT_TRUE(si) << c.name;
        EXPECT_EQ(sk_X509_ATTRIBUTE_num(si->auth_attr), 3) << c.name;
        EXPECT_EQ(sk_X509_ATTRIBUTE_num(si->unauth_attr), 1) << c.name;
        std::string expected = OpenSslSignedData(made.get(), digest, c.detached);
        ASSERT_FALSE(expected.empty()) << c.name;
        EXPECT_TRUE(der == expected) << c.name;
    }
}

TEST_F(SigningTest, ANewCertificateOnTheKeyIsWhatTheNextSignatureCarries) {
    UseRsaKey();
    const std::string content = "signed before and after the certificate changes";
    std::string before;
    ASSERT_TRUE(ZYKSignP7(B64(content), before, 1)) << ZYKGetLastError();
    ASSERT_EQ(CertificateNames(before),
              (std::vector<std::string>{"RSA signer", "SHECA G2", "UCA Root G2"}));

    // Imported through the library: a certificate of another CA for the same key pair.
    EVP_PKEY* pub = ContainerPublicKey("RSA1", "CntRSA");
    EVP_PKEY* otherCa = NewRsaKey(2048);
    CertSpec spec;
    spec.subjectCN = "RSA signer renewed";
    spec.issuerCN = "Another CA";
    X509* renewed = MakeCertificate(spec, pub, otherCa);
    std::string renewedB64 = Base64Encode(Der(renewed));
    X509_free(renewed);
    EVP_PKEY_free(otherCa);
    EVP_PKEY_free(pub);
    ASSERT_TRUE(ZYKImportCertFromWEB(renewedB64, "CntRSA")) << ZYKGetLastError();
    std::string afterImport, afterImportDigest, digest = B64(Sha256(content));
    ASSERT_TRUE(ZYKSignP7(B64(content), afterImport, 1)) << ZYKGetLastError();
    EXPECT_EQ(CertificateNames(afterImport), std::vector<std::string>{"RSA signer renewed"});
    ASSERT_TRUE(ZYKSignDigest(digest, afterImportDigest)) << ZYKGetLastError();
    EXPECT_EQ(CertificateNames(afterImportDigest), std::vector<std::string>{"RSA signer renewed"});
    EXPECT_TRUE(ZYKVerifySignData(B64(content), afterImport, ""));

    // Changed while the key was out: the key plugged in again signs with what it holds now. The
    // listener takes each change in on its own thread: wait (bounded) until it has.
    auto keyPresent = [] {
        std::string current;
        return ZYKGetCurrentDeviceId(current) && current == "RSA1";
    };
    auto waitUntil = [](const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i) usleep(50000);
        return done();
    };
    Softkey("unplug RSA1");
    ASSERT_TRUE(waitUntil([&] { return !keyPresent(); }));
    EVP_PKEY* ca = LoadPemKey(kBuiltin + "/test-only-keys/dev-standin-sheca-g2.key");
    spec.subjectCN = "RSA signer again";
    spec.issuerC = "CN";
    spec.issuerO = "UniTrust";
    spec.issuerCN = "SHECA G2";
    spec.serial = {0x02};
    IssueOnKey("RSA1", "CntRSA", spec, ca);
    EVP_PKEY_free(ca);
    Softkey("plug RSA1");
    ASSERT_TRUE(waitUntil(keyPresent));
    ASSERT_EQ(ZYKVerifyPin("12345678", "RSA1"), -1);
    std::string afterPlug;
    ASSERT_TRUE(ZYKSignP7(B64(content), afterPlug, 1)) << ZYKGetLastError();
    EXPECT_EQ(CertificateNames(afterPlug),
              (std::vector<std::string>{"RSA signer again", "SHECA G2", "UCA Root G2"}));
    EXPECT_EQ(
        Shell("openssl cms -verify -binary -inform DER -in " + Write("plug.p7", Raw(afterPlug)) +
              " -content " + Write("c.txt", content) + " -CAfile " + m_rootPem + " -purpose any"),
        0);
}

TEST_F(SigningTest, Sm2MessagesFollowTheCertificateOnTheKey) {
    UseSm2Key();
    std::string digest = B64(Sm3("SM2 content")), before, after, certificate, signingTime;
    ASSERT_TRUE(ZYKSignSM2Digest(digest, before)) << ZYKGetLastError();
    ASSERT_TRUE(ZYKVerifySM2Digest(digest, before, certificate, signingTime));
    EXPECT_EQ(certificate, m_certB64);

    EVP_PKEY* pub = ContainerPublicKey("SM21", "CntSM2");
    EVP_PKEY* ca = NewSm2Key();
    CertSpec spec;
    spec.subjectCN = "SM2 signer renewed";
    spec.issuerCN = "Another SM2 CA";
    X509* renewed = MakeCertificate(spec, pub, ca);
    std::string renewedB64 = Base64Encode(Der(renewed));
    X509_free(renewed);
    EVP_PKEY_free(ca);
    EVP_PKEY_free(pub);
    ASSERT_TRUE(ZYKImportCertFromWEB(renewedB64, "CntSM2")) << ZYKGetLastError();
    ASSERT_TRUE(ZYKSignSM2Digest(digest, after)) << ZYKGetLastError();
    ASSERT_TRUE(ZYKVerifySM2Digest(digest, after, certificate, signingTime));
    EXPECT_EQ(certificate, renewedB64);
    ByteArray content("SM2 content", 11), message;
    ASSERT_EQ(Current()->SignSM2P7(content, message).ErrorCode(), 0);
    EXPECT_EQ(Current()->VerifySM2P7(message, content).ErrorCode(), 0);
}

}  // namespace
