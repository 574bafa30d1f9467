// The tessal tool as a user runs it: keys, PINs, certificates and signatures of software keys.
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <rapidjson/document.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "api/encodings.h"
#include "cert_factory.h"
#include "cloudsim_rig.h"
#include "key_rig.h"
#include "test_support.h"
#include "testing/command_output.h"

namespace {

struct ToolResult {
    int status;
    std::string out;  // standard output alone
    std::string err;
};

class TessalToolTest : public KeyRigTest {
protected:
    void SetUp() override {
        KeyRigTest::SetUp();
        setenv("TESSAL_CONNECT_TO", "::127.0.0.1:9", 1);  // no time service unless a test starts one
        m_caKey = test_support::NewRsaKey();
        InstallDriver("EsZYKEBankCspV2.dll");
        InstallDriver("SKF_APP.dll");
        AddKey("RSA1", "1EA8&C109");
        Softkey("container create RSA1 CntRSA rsa2048");
        test_support::CertSpec spec;
        spec.subjectCN = "Tool Holder";
        m_certificate = IssueOnKey("RSA1", "CntRSA", spec, m_caKey);
        test_support::CertSpec caSpec;
        caSpec.subjectCN = caSpec.issuerCN = "Test CA";
        caSpec.caExtensions = true;
        X509* ca = test_support::MakeCertificate(caSpec, m_caKey, m_caKey);
        Write("ca.pem", test_support::Pem(ca));
        X509_free(ca);
        AddKey("SM21", "1D99&0001");
        Softkey("container create SM21 CntSM2 sm2");
        Write("pin", "12345678\n");
        Write("wrong", "00000000\n");
    }
    void TearDown() override { EVP_PKEY_free(m_caKey); }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    void Write(const std::string& name, const std::string& data) const {
        std::ofstream(Path(name), std::ios::binary) << data;
    }
    bool Exists(const std::string& name) const { return std::ifstream(Path(name)).good(); }

    // Runs the tool without a controlling terminal, so that no PIN prompt can wait.
    ToolResult Tool(const std::string& args) const {
        kit_testing::CommandOutput r = kit_testing::RunCommand("setsid -w " + std::string(TESSAL_TOOL) + " " + args +
                                                               " 2> " + Path("stderr"));
        return {r.status, r.out, test_support::ReadFile(Path("stderr"))};
    }

    std::string Pin() const { return " --pin-file " + Path("pin"); }
    // The chain of RSA1's certificate ends at the test CA, which the tool trusts only when told.
    std::string TrustTestCa() const { return " --CAfile " + Path("ca.pem"); }

    // A DER PKCS#7 over `content` (attached) signed with `key` by the holder of `cert`.
    void WriteSignature(const std::string& name, X509* cert, EVP_PKEY* key,
                        const std::string& content) const {
        BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
        PKCS7* p7 = PKCS7_sign(cert, key, nullptr, data, PKCS7_BINARY);
        ASSERT_NE(p7, nullptr);
        unsigned char* der = nullptr;
        int n = i2d_PKCS7(p7, &der);
        Write(name, std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)));
        OPENSSL_free(der);
        PKCS7_free(p7);
        BIO_free(data);
    }

    EVP_PKEY* m_caKey = nullptr;
    std::string m_certificate;  // Base64 DER of RSA1's signing certificate
};

rapidjson::Document Json(const ToolResult& r) {
    rapidjson::Document doc;
    EXPECT_FALSE(doc.Parse(r.out.c_str()).HasParseError()) << r.out << r.err;
    return doc;
}

TEST_F(TessalToolTest, KeysAndCertificatesAsTextAndJson) {
    ToolResult keys = Tool("keys --json");
    ASSERT_EQ(keys.status, 0) << keys.err;
    rapidjson::Document list = Json(keys);  // the library's own console lines stay off standard output
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 2u);
    int current = 0;
    for (const auto& key : list.GetArray()) {
        std::string id = key["id"].GetString();
        EXPECT_STREQ(key["library"].GetString(), id == "RSA1" ? "EsZYKEBankCspV2.dll" : "SKF_APP.dll");
        EXPECT_STREQ(key["containers"][0].GetString(), id == "RSA1" ? "CntRSA" : "CntSM2");
        current += key["current"].GetBool();
    }
    EXPECT_EQ(current, 1);
    EXPECT_NE(Tool("keys").out.find("RSA1"), std::string::npos);

    ToolResult shown = Tool("--key RSA1 cert show --json");
    ASSERT_EQ(shown.status, 0) << shown.err;
    rapidjson::Document fields = Json(shown);
    EXPECT_STREQ(fields["subjectCN"].GetString(), "Tool Holder");
    EXPECT_STREQ(fields["issuerCN"].GetString(), "Test CA");
    EXPECT_NE(Tool("cert show --key=RSA1").out.find("subject CN: Tool Holder\n"), std::string::npos);

    ASSERT_EQ(Tool("cert export --key RSA1 --der " + Path("cert.der")).status, 0);
    std::string der = test_support::ReadFile(Path("cert.der"));
    EXPECT_EQ(Base64Encode(ByteArray(der.data(), static_cast<int>(der.size()))), m_certificate);
    ToolResult pem = Tool("cert export --key RSA1 -");
    ASSERT_EQ(pem.status, 0);
    EXPECT_EQ(pem.out.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u) << pem.out;

    ToolResult none = Tool("cert show --key SM21");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("gives no signing certificate"), std::string::npos) << none.err;
    ToolResult absent = Tool("cert show --key NOPE");
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("key NOPE is not attached"), std::string::npos) << absent.err;
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(Tool("cert export --key RSA1").status, 2);
}

TEST_F(TessalToolTest, AnAttachedKeyWithoutItsDriverIsReportedNotIgnored) {
    const std::string empty = Path("no-drivers");
    ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
    // --driver-dir replaces the search: no driver there, so both keys are present but unusable.
    ToolResult keys = Tool("--driver-dir " + empty + " keys");
    EXPECT_EQ(keys.status, 1);
    EXPECT_EQ(keys.out.find("no key is attached"), std::string::npos) << keys.out;
    EXPECT_NE(
        keys.err.find("tessal: key 1EA8:C109 present; no driver library found in " + empty + "\n"),
        std::string::npos)
        << keys.err;
    // Every directory of the key's libraries (two families here), in trial order.
    EXPECT_NE(keys.err.find("tessal: key 1D99:0001 present; no driver library found in " + empty +
                            "/AHHFCA, " + empty + "/SDCA&HNCA\n"),
              std::string::npos)
        << keys.err;
    ToolResult cert = Tool("--driver-dir " + empty + " cert show");
    EXPECT_EQ(cert.status, 1);
    EXPECT_NE(cert.err.find("key 1EA8:C109 present; no driver library found in " + empty),
              std::string::npos)
        << cert.err;

    // The option wins over the environment.
    setenv("TESSAL_DRIVER_DIR", empty.c_str(), 1);
    ToolResult found = Tool("--driver-dir " + m_dir + "/drivers keys");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("RSA1"), std::string::npos) << found.out;
    setenv("TESSAL_DRIVER_DIR", (m_dir + "/drivers").c_str(), 1);

    // One key without its driver among keys that work: they are listed, the failure is told.
    AddKey("NODRV", "1EA8&C023", "--drivers EsSZCACspV2.dll");
    ToolResult mixed = Tool("keys");
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.out.find("RSA1"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.out.find("SM21"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.err.find("key 1EA8:C023 present; no driver library found in " + m_dir +
                             "/drivers/SZCA\n"),
              std::string::npos)
        << mixed.err;
    EXPECT_EQ(Tool("--key RSA1 cert show").status, 0);  // a key that works still works
}

TEST_F(TessalToolTest, PinsComeFromFilesEnvironmentOrNowhere) {
    EXPECT_EQ(Tool("pin verify --key RSA1" + Pin()).status, 0);
    setenv("MY_PIN", "00000000", 1);
    ToolResult wrong = Tool("pin verify --key RSA1 --pin-env MY_PIN");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("was not accepted (5 tries left)"), std::string::npos) << wrong.err;
    // Without a terminal and without a PIN option the tool refuses instead of waiting.
    ToolResult noPin = Tool("pin verify --key RSA1");
    EXPECT_EQ(noPin.status, 2);
    EXPECT_NE(noPin.err.find("no PIN"), std::string::npos) << noPin.err;
    EXPECT_EQ(Tool("pin verify --key RSA1 --pin 12345678").status, 2);  // never on the command line
    EXPECT_EQ(Tool("pin verify --key RSA1 --pin-env UNSET_VARIABLE_X").status, 2);

    Write("new", "87654321\n");
    ASSERT_EQ(Tool("pin change --key RSA1" + Pin() + " --new-pin-file " + Path("new")).status, 0);
    EXPECT_EQ(Tool("pin verify --key RSA1 --pin-file " + Path("new")).status, 0);
    EXPECT_EQ(Tool("pin verify --key RSA1" + Pin()).status, 1);
    EXPECT_EQ(Tool("pin change --key RSA1 --pin-file " + Path("wrong") + " --new-pin-file " + Path("pin")).status, 1);

    // Unblocking sets a new user PIN with the administrator PIN the user gives, never a built-in one.
    for (int i = 0; i < 6; ++i) Tool("pin verify --key RSA1 --pin-file " + Path("wrong"));
    EXPECT_EQ(Tool("pin verify --key RSA1 --pin-file " + Path("new")).status, 1);
    ToolResult noAdmin = Tool("pin unblock --key RSA1 --new-pin-file " + Path("pin"));
    EXPECT_EQ(noAdmin.status, 2);
    EXPECT_NE(noAdmin.err.find("no PIN: give --admin-pin-file FILE or --admin-pin-env VARIABLE"), std::string::npos)
        << noAdmin.err;
    ToolResult badAdmin =
        Tool("pin unblock --key RSA1 --admin-pin-file " + Path("wrong") + " --new-pin-file " + Path("pin"));
    EXPECT_EQ(badAdmin.status, 1);
    EXPECT_NE(badAdmin.err.find("was not unblocked"), std::string::npos) << badAdmin.err;
    EXPECT_EQ(Tool("pin verify --key RSA1" + Pin()).status, 1);  // still locked
    Write("admin", "70315926\n");
    ToolResult unblocked =
        Tool("pin unblock --key RSA1 --admin-pin-file " + Path("admin") + " --new-pin-file " + Path("pin"));
    ASSERT_EQ(unblocked.status, 0) << unblocked.err;
    EXPECT_EQ(Tool("pin verify --key RSA1" + Pin()).status, 0);
    EXPECT_EQ(Tool("pin reset --key RSA1").status, 2);
}

TEST_F(TessalToolTest, SignaturesVerifyAndFailuresWriteNothing) {
    Write("doc.txt", "document to sign\n");
    ToolResult signedDetached = Tool("sign --key RSA1 --detached --json" + Pin() + " " + Path("doc.txt") + " " +
                                     Path("doc.p7s"));
    ASSERT_EQ(signedDetached.status, 0) << signedDetached.err;
    rapidjson::Document report = Json(signedDetached);
    EXPECT_STREQ(report["signature"].GetString(), "PKCS#7 detached");
    EXPECT_FALSE(report["timeStamp"].GetBool());
    EXPECT_EQ(Tool("verify" + TrustTestCa() + " " + Path("doc.p7s") + " " + Path("doc.txt")).status,
              0);
    Write("other.txt", "another document\n");
    ToolResult mismatch =
        Tool("verify --json" + TrustTestCa() + " " + Path("doc.p7s") + " " + Path("other.txt"));
    EXPECT_EQ(mismatch.status, 1);
    rapidjson::Document mismatchReport = Json(mismatch);
    EXPECT_FALSE(mismatchReport["verified"].GetBool());
    EXPECT_STREQ(mismatchReport["signerResult"].GetString(),
                 "signature not valid: it does not match the signed content");
    // Detached: the content is needed, and the reason says so.
    ToolResult noContent = Tool("verify" + TrustTestCa() + " " + Path("doc.p7s"));
    EXPECT_EQ(noContent.status, 1);
    EXPECT_NE(noContent.out.find("reason: the signature is detached: give the signed content\n"),
              std::string::npos)
        << noContent.out;
    ToolResult notSignature = Tool("verify " + Path("doc.txt"));
    EXPECT_EQ(notSignature.status, 1);
    EXPECT_NE(notSignature.out.find("reason: not a DER PKCS#7 structure\n"), std::string::npos)
        << notSignature.out;

    ASSERT_EQ(Tool("sign --key RSA1" + Pin() + " " + Path("doc.txt") + " " + Path("attached.p7s")).status, 0);
    EXPECT_EQ(Tool("verify" + TrustTestCa() + " " + Path("attached.p7s")).status, 0);
    std::string cms = "openssl cms -verify -noverify -binary -inform DER -in " + Path("attached.p7s") + " -out " +
                      Path("content.out") + " 2>/dev/null";
    ASSERT_EQ(system(cms.c_str()), 0);
    EXPECT_EQ(test_support::ReadFile(Path("content.out")), "document to sign\n");

    // "-" writes the signature alone to standard output.
    ToolResult piped = Tool("sign --key RSA1" + Pin() + " " + Path("doc.txt") + " -");
    ASSERT_EQ(piped.status, 0) << piped.err;
    Write("piped.p7s", piped.out);
    EXPECT_EQ(Tool("verify --no-chain " + Path("piped.p7s")).status, 0);
    EXPECT_NE(piped.err.find("signature: PKCS#7 attached"), std::string::npos) << piped.err;

    // SM2 seal signature: SM3 with the default identifier, checked by the openssl command line.
    ASSERT_EQ(Tool("sign --key SM21 --seal" + Pin() + " " + Path("doc.txt") + " " + Path("seal.sig")).status, 0);
    Softkey("container pubkey SM21 CntSM2 sign " + Path("sm2.pub.pem"));
    std::string sm2 = "openssl dgst -sm3 -verify " + Path("sm2.pub.pem") + " -sigopt distid:1234567812345678 " +
                      "-signature " + Path("seal.sig") + " " + Path("doc.txt") + " > /dev/null 2>&1";
    EXPECT_EQ(system(sm2.c_str()), 0);

    // A wrong PIN, a missing input or a required time-stamp that does not come: no output file.
    Write("wrong", "00000000\n");
    EXPECT_EQ(Tool("sign --key RSA1 --pin-file " + Path("wrong") + " " + Path("doc.txt") + " " + Path("a")).status, 1);
    EXPECT_EQ(Tool("sign --key RSA1" + Pin() + " " + Path("missing") + " " + Path("b")).status, 1);
    ToolResult unstamped =
        Tool("sign --key RSA1 --require-time-stamp" + Pin() + " " + Path("doc.txt") + " " + Path("c"));
    EXPECT_EQ(unstamped.status, 1);
    EXPECT_NE(unstamped.err.find("no time-stamp"), std::string::npos) << unstamped.err;
    for (const char* name : {"a", "b", "c"}) EXPECT_FALSE(Exists(name)) << name;
    EXPECT_EQ(Tool("sign --seal --detached" + Pin() + " " + Path("doc.txt") + " " + Path("d")).status, 2);
    EXPECT_EQ(Tool("sign " + Path("doc.txt")).status, 2);
}

TEST_F(TessalToolTest, VerifiedOnlyWhenTheSignerChainsToATrustedCa) {
    const int untrusted = 3;
    Write("doc.txt", "contract\n");
    // A stranger's signature: valid, but by a self-signed "CN=Mallory".
    EVP_PKEY* malloryKey = test_support::NewRsaKey();
    test_support::CertSpec mallory;
    mallory.subjectCN = mallory.issuerCN = "Mallory";
    mallory.serial = {0x4D, 0x41};
    X509* malloryCert = test_support::MakeCertificate(mallory, malloryKey, malloryKey);
    WriteSignature("mallory.p7s", malloryCert, malloryKey, "contract\n");
    Write("mallory.pem", test_support::Pem(malloryCert));
    X509_free(malloryCert);
    EVP_PKEY_free(malloryKey);

    ToolResult stranger = Tool("verify " + Path("mallory.p7s"));
    EXPECT_EQ(stranger.status, untrusted) << stranger.out << stranger.err;
    EXPECT_EQ(stranger.out.find("verified: yes"), std::string::npos) << stranger.out;
    EXPECT_NE(stranger.out.find(
                  "signer subject: CN=Mallory\nsigner serial: 4D41\nsigner issuer: CN=Mallory\n"),
              std::string::npos)
        << stranger.out;
    EXPECT_NE(stranger.out.find(
                  "signer result: signature valid, signer not trusted: self-signed certificate\n"),
              std::string::npos)
        << stranger.out;
    EXPECT_NE(stranger.out.find("reason: signature valid, signer not trusted\n"), std::string::npos)
        << stranger.out;
    ToolResult strangerJson = Tool("verify --json " + Path("mallory.p7s"));
    EXPECT_EQ(strangerJson.status, untrusted);
    EXPECT_FALSE(Json(strangerJson)["verified"].GetBool());
    // The signature alone is valid; and trusted once its certificate is named a CA on purpose.
    EXPECT_EQ(Tool("verify --no-chain " + Path("mallory.p7s")).status, 0);
    EXPECT_EQ(Tool("verify --CAfile " + Path("mallory.pem") + " " + Path("mallory.p7s")).status, 0);

    // The key's signature chains to the test CA: trusted with --CAfile only.
    ASSERT_EQ(
        Tool("sign --key RSA1" + Pin() + " " + Path("doc.txt") + " " + Path("rsa1.p7s")).status, 0);
    ToolResult unknownCa = Tool("verify " + Path("rsa1.p7s"));
    EXPECT_EQ(unknownCa.status, untrusted) << unknownCa.out;
    EXPECT_NE(unknownCa.out.find("signer not trusted: unable to get local issuer certificate"),
              std::string::npos)
        << unknownCa.out;
    ToolResult trusted = Tool("verify" + TrustTestCa() + " " + Path("rsa1.p7s"));
    EXPECT_EQ(trusted.status, 0) << trusted.out;
    EXPECT_NE(trusted.out.find("signer subject: CN=Tool Holder\n"), std::string::npos)
        << trusted.out;
    EXPECT_NE(trusted.out.find("signer issuer: CN=Test CA\n"), std::string::npos) << trusted.out;
    EXPECT_NE(trusted.out.find("signer result: signature valid, signer trusted\nverified: yes\n"),
              std::string::npos)
        << trusted.out;

    // A signer under the library's built-in CA certificates is trusted without --CAfile.
    EVP_PKEY* shecaKey = test_support::LoadPemKey(std::string(TESSAL_BUILTIN_CERTS_DIR) +
                                                  "/test-only-keys/dev-standin-sheca-g2.key");
    ASSERT_NE(shecaKey, nullptr);
    AddKey("RSA2", "1EA8&C109");
    Softkey("container create RSA2 CntRSA rsa2048");
    test_support::CertSpec builtin;
    builtin.subjectCN = "Built-in Holder";
    builtin.issuerC = "CN";
    builtin.issuerO = "UniTrust";
    builtin.issuerCN = "SHECA G2";
    IssueOnKey("RSA2", "CntRSA", builtin, shecaKey);
    EVP_PKEY_free(shecaKey);
    ASSERT_EQ(
        Tool("sign --key RSA2" + Pin() + " " + Path("doc.txt") + " " + Path("rsa2.p7s")).status, 0);
    ToolResult builtinCa = Tool("verify " + Path("rsa2.p7s"));
    EXPECT_EQ(builtinCa.status, 0) << builtinCa.out;

    ToolResult badCaFile = Tool("verify --CAfile " + Path("doc.txt") + " " + Path("rsa1.p7s"));
    EXPECT_EQ(badCaFile.status, 1);
    EXPECT_NE(badCaFile.err.find("no CA certificate could be read from"), std::string::npos)
        << badCaFile.err;
    EXPECT_EQ(Tool("verify --no-chain" + TrustTestCa() + " " + Path("rsa1.p7s")).status, 2);
}

TEST_F(TessalToolTest, TimeStampFromTheTimeService) {
    test_support::CloudSim sim(Path("cloudsim"));
    Write("doc.txt", "stamped document\n");
    ToolResult stamped = Tool("sign --key RSA1 --detached --require-time-stamp" + Pin() + " " + Path("doc.txt") +
                              " " + Path("doc.p7s"));
    ASSERT_EQ(stamped.status, 0) << stamped.err;
    EXPECT_NE(stamped.out.find("time-stamp: yes\n"), std::string::npos) << stamped.out;
    EXPECT_EQ(Tool("verify" + TrustTestCa() + " " + Path("doc.p7s") + " " + Path("doc.txt")).status,
              0);
}

TEST_F(TessalToolTest, HelpVersionAndUsageMistakes) {
    for (const char* args : {"--help", "-h", "sign --help", "pin -h"}) {
        ToolResult r = Tool(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out.rfind("Usage: tessal ", 0), 0u) << args << r.out;
    }
    EXPECT_EQ(Tool("--version").out, std::string("tessal ") + KIT_VERSION + "\n");
    for (const char* args : {"", "frobnicate", "keys extra", "--key", "cert", "cert show --der=x"}) {
        ToolResult r = Tool(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find("tessal: "), std::string::npos) << args;
    }
}

TEST_F(TessalToolTest, TheLibrarysConsoleLinesAreOffUnlessAsked) {
    for (const char* args : {"keys --json", "--key RSA1 cert show"}) {
        ToolResult r = Tool(args);
        ASSERT_EQ(r.status, 0) << args << r.err;
        for (const char* line : {"gNIDs", "end initFunclist"}) {
            EXPECT_EQ(r.out.find(line), std::string::npos) << args << r.out;
            EXPECT_EQ(r.err.find(line), std::string::npos) << args << r.err;
        }
    }
    // An explicit TESSAL_CONSOLE wins; the lines then go to standard error, never into the results.
    setenv("TESSAL_CONSOLE", "1", 1);
    ToolResult asked = Tool("keys --json");
    unsetenv("TESSAL_CONSOLE");
    ASSERT_EQ(asked.status, 0) << asked.err;
    EXPECT_NE(asked.err.find("gNIDs"), std::string::npos) << asked.err;
    EXPECT_TRUE(Json(asked).IsArray());
}

TEST_F(TessalToolTest, ALockedPinIsReportedLocked) {
    for (int i = 0; i < 5; ++i) Tool("pin verify --key RSA1 --pin-file " + Path("wrong"));
    ToolResult last = Tool("pin verify --key RSA1 --pin-file " + Path("wrong"));
    EXPECT_EQ(last.status, 1);
    ToolResult oneLeft = Tool("pin verify --key SM21 --pin-file " + Path("wrong"));
    for (int i = 0; i < 4; ++i) oneLeft = Tool("pin verify --key SM21 --pin-file " + Path("wrong"));
    EXPECT_NE(oneLeft.err.find("was not accepted (1 try left)"), std::string::npos) << oneLeft.err;
    // The right PIN on a locked key: locked, not "0 tries left".
    ToolResult locked = Tool("pin verify --key RSA1" + Pin());
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("the PIN of RSA1 is locked"), std::string::npos) << locked.err;
    EXPECT_EQ(locked.err.find("0 tries left"), std::string::npos) << locked.err;
    EXPECT_NE(last.err.find("the PIN of RSA1 is locked"), std::string::npos) << last.err;

    // With the administrator PIN given, a key of another vendor's library unblocks too.
    Write("admin", "70315926\n");
    Write("new", "87654321\n");
    ToolResult unblocked =
        Tool("pin unblock --key SM21 --admin-pin-file " + Path("admin") + " --new-pin-file " + Path("new"));
    ASSERT_EQ(unblocked.status, 0) << unblocked.err;
    EXPECT_EQ(Tool("pin verify --key SM21 --pin-file " + Path("new")).status, 0);
}

TEST_F(TessalToolTest, DashIsStandardInputAndOutput) {
    Write("doc.txt", "document from standard input\n");
    ToolResult piped = Tool("sign --key RSA1 --detached" + Pin() + " - - < " + Path("doc.txt"));
    ASSERT_EQ(piped.status, 0) << piped.err;
    Write("doc.p7s", piped.out);
    EXPECT_EQ(Tool("verify" + TrustTestCa() + " - " + Path("doc.txt") + " < " + Path("doc.p7s")).status, 0);
    EXPECT_EQ(Tool("verify" + TrustTestCa() + " " + Path("doc.p7s") + " - < " + Path("doc.txt")).status, 0);
    EXPECT_FALSE(Exists("-"));
    // The PIN may come from standard input too, but standard input is one input only.
    ToolResult pinIn = Tool("sign --key RSA1 --pin-file - " + Path("doc.txt") + " " + Path("a.p7s") + " < " +
                            Path("pin"));
    EXPECT_EQ(pinIn.status, 0) << pinIn.err;
    ToolResult twice = Tool("sign --key RSA1 --pin-file - - " + Path("b.p7s") + " < " + Path("pin"));
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("only one of the inputs"), std::string::npos) << twice.err;
    EXPECT_FALSE(Exists("b.p7s"));
}

TEST_F(TessalToolTest, JsonHasRealTypesAndOneKeyStyle) {
    rapidjson::Document keys = Json(Tool("keys --json"));
    ASSERT_TRUE(keys.IsArray());
    for (const auto& key : keys.GetArray()) {
        EXPECT_TRUE(key["kind"].IsInt());
        EXPECT_EQ(key["kind"].GetInt(), std::string(key["id"].GetString()) == "RSA1" ? 0 : 1);
        EXPECT_TRUE(key["current"].IsBool());
    }
    rapidjson::Document cert = Json(Tool("--key RSA1 cert show --json"));
    ASSERT_TRUE(cert.IsObject());
    EXPECT_EQ(cert["version"].GetInt(), 3);
    std::string from = cert["validFrom"].GetString(), to = cert["validTo"].GetString();
    for (const std::string& date : {from, to}) {
        ASSERT_EQ(date.size(), 20u) << date;  // 2026-12-10T13:14:05Z
        EXPECT_EQ(date[4], '-');
        EXPECT_EQ(date[10], 'T');
        EXPECT_EQ(date.back(), 'Z');
    }
    EXPECT_LT(from, to);
    for (const auto& member : cert.GetObject()) {
        std::string name = member.name.GetString();
        EXPECT_EQ(name.find_first_of(" -_"), std::string::npos) << name;
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(name[0]))) << name;
    }
    // The text output keeps the words people read.
    EXPECT_NE(Tool("--key RSA1 cert show").out.find("serial number: "), std::string::npos);
}

TEST_F(TessalToolTest, OneUsageTextPerCommand) {
    for (const char* args : {"sign only-one", "verify", "cert export --key RSA1", "keys extra", "pin"}) {
        ToolResult r = Tool(args);
        EXPECT_EQ(r.status, 2) << args;
        size_t first = r.err.find("sage: tessal");
        ASSERT_NE(first, std::string::npos) << args << r.err;
        EXPECT_EQ(r.err.find("sage: tessal", first + 1), std::string::npos) << args << r.err;
    }
}

}  // namespace
