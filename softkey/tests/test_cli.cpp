// The provisioning tool: each command's happy path, and bad input that changes nothing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <rapidjson/document.h>

#include "testing/command_output.h"

#include "core/fs_util.h"
#include "core/store.h"
#include "core/vbus.h"

namespace {

using CliResult = kit_testing::CommandOutput;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/softkey-cli-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
        ASSERT_EQ(Cli("store init").status, 0);
    }
    void TearDown() override { softkey::RemoveTree(m_dir); }

    // The tool's status and output; `streams` " 2>&1" merges standard error in, " 2>/dev/null" drops it.
    CliResult Cli(const std::string& args, const char* streams = " 2>&1") {
        return kit_testing::RunCommand(std::string(SOFTKEY_CLI) + " --store " + m_dir + "/store " + args + streams);
    }

    // Every file of the store with its content, to prove a failed command changed nothing.
    std::string Snapshot() {
        std::string all;
        std::function<void(const std::string&)> walk = [&](const std::string& dir) {
            for (const std::string& name : softkey::ListDirectory(dir)) {
                std::string path = dir + "/" + name;
                if (softkey::IsDirectory(path)) {
                    walk(path);
                } else if (name != ".lock" && name != ".faults.lock") {
                    std::string data;
                    softkey::ReadWholeFile(path, data);
                    all += path + "=" + data + "\n";
                }
            }
        };
        walk(m_dir + "/store");
        return all;
    }

    void ExpectFailsAndChangesNothing(const std::string& args, const std::string& message) {
        std::string before = Snapshot();
        CliResult r = Cli(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_NE(r.out.find(message), std::string::npos) << args << "\n" << r.out;
        EXPECT_EQ(Snapshot(), before) << args;
    }

    std::string m_dir;
};

TEST_F(CliTest, CreatePlugListShowUnplugDelete) {
    CliResult r = Cli("create --serial SN1 --vid 096E --pid 0309 --label Mine --drivers a.dll,b.dll --retries 5");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Cli("list").out, "SN1 096e:0309 unplugged \"Mine\"\n");
    ASSERT_EQ(Cli("plug SN1").status, 0);
    softkey::Store store(m_dir + "/store");
    std::string vid;
    ASSERT_TRUE(softkey::ReadWholeFile(store.DevicesDir() + "/sk-SN1/idVendor", vid));
    EXPECT_EQ(vid, "096e\n");
    std::string shown = Cli("show SN1").out;
    EXPECT_NE(shown.find("state: plugged"), std::string::npos) << shown;
    EXPECT_NE(shown.find("drivers: a.dll,b.dll"), std::string::npos);
    EXPECT_NE(shown.find("user PIN 5/5 tries left"), std::string::npos);
    ASSERT_EQ(Cli("unplug SN1").status, 0);
    EXPECT_FALSE(softkey::PathExists(store.DevicesDir() + "/sk-SN1"));
    ASSERT_EQ(Cli("plug SN1").status, 0);
    ASSERT_EQ(Cli("delete SN1").status, 0);
    EXPECT_EQ(Cli("list").out, "");
    EXPECT_FALSE(softkey::PathExists(store.DevicesDir() + "/sk-SN1"));
}

TEST_F(CliTest, ContainersCertificatesFilesAndDrivers) {
    ASSERT_EQ(Cli("create --serial SN2 --vid 1EA8 --pid C003").status, 0);
    ASSERT_EQ(Cli("container create SN2 CntSM2 sm2").status, 0);
    ASSERT_EQ(Cli("container create SN2 CntRSA rsa2048").status, 0);
    EXPECT_EQ(Cli("container list SN2").out, "CntSM2 sign=sm2 enc=none\nCntRSA sign=rsa2048 enc=none\n");
    std::string pem = m_dir + "/pub.pem";
    ASSERT_EQ(Cli("container pubkey SN2 CntRSA sign " + pem).status, 0);

    // A certificate for the key's own public key, made by the openssl command line.
    std::string key = m_dir + "/ca.key", cert = m_dir + "/cert.pem";
    std::string mk = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -subj /CN=TestCA -days 2 -out " +
                     m_dir + "/ca.pem 2>/dev/null && openssl x509 -new -force_pubkey " + pem + " -subj /CN=Holder -CA " +
                     m_dir + "/ca.pem -CAkey " + key + " -days 2 -out " + cert + " 2>/dev/null";
    ASSERT_EQ(system(mk.c_str()), 0);
    ASSERT_EQ(Cli("cert import SN2 CntRSA sign " + cert).status, 0);
    EXPECT_NE(Cli("show SN2").out.find("sign cert /CN=Holder"), std::string::npos);
    std::string exported = m_dir + "/out.pem";
    ASSERT_EQ(Cli("cert export SN2 CntRSA sign " + exported).status, 0);
    std::string a, b;
    softkey::ReadWholeFile(cert, a);
    softkey::ReadWholeFile(exported, b);
    EXPECT_EQ(a, b);

    std::string data = m_dir + "/seal.png";
    softkey::WriteFileAtomic(data, std::string("\x89PNG\r\n\x1a\n\0binary", 15));
    ASSERT_EQ(Cli("file put SN2 seal.png " + data).status, 0);
    EXPECT_EQ(Cli("file list SN2").out, "seal.png 15\n");
    ASSERT_EQ(Cli("file get SN2 seal.png " + m_dir + "/back.png").status, 0);
    std::string back;
    softkey::ReadWholeFile(m_dir + "/back.png", back);
    EXPECT_EQ(back, std::string("\x89PNG\r\n\x1a\n\0binary", 15));

    ASSERT_EQ(Cli("install-driver --root " + m_dir + "/drv --name SKF_APP.dll --family ESKEY").status, 0);
    std::string lib;
    ASSERT_TRUE(softkey::ReadWholeFile(m_dir + "/drv/ESKEY/SKF_APP.dll", lib));
    EXPECT_EQ(lib.substr(1, 3), "ELF");
    ASSERT_EQ(Cli("fault SN2 SKF_ConnectDev 0x0A000001 --count 2 --arg SN2").status, 0);
    ASSERT_EQ(Cli("fault SN2 clear").status, 0);
}

TEST_F(CliTest, BadInputFailsClearlyAndChangesNothing) {
    ASSERT_EQ(Cli("create --serial SN3 --vid 096E --pid 0309").status, 0);
    ASSERT_EQ(Cli("container create SN3 C1 sm2").status, 0);
    ExpectFailsAndChangesNothing("create --serial SN3 --vid 096E --pid 0309", "exists already");
    ExpectFailsAndChangesNothing("create --serial ../x --vid 096E --pid 0309", "serial must be");
    ExpectFailsAndChangesNothing("create --serial N --vid 96E --pid 0309", "--vid must be four hexadecimal");
    ExpectFailsAndChangesNothing("create --serial N --vid 096E --pid 0309 --user-pin 123", "--user-pin must have");
    ExpectFailsAndChangesNothing("create --serial N --vid 096E --pid 0309 --retries x", "--retries must be a number");
    ExpectFailsAndChangesNothing("create --vid 096E --pid 0309", "create needs --serial");
    ExpectFailsAndChangesNothing("plug NOPE", "no key with serial NOPE");
    ExpectFailsAndChangesNothing("unplug SN3", "is not plugged");
    ExpectFailsAndChangesNothing("delete NOPE", "no key with serial NOPE");
    ExpectFailsAndChangesNothing("fault SN3 SKF_ConnectDev zero", "CODE must be a number");
    ExpectFailsAndChangesNothing("fault SN3 ConnectDev 1", "FUNCTION must be an SKF function or a seal library entry point");
    ExpectFailsAndChangesNothing("container create SN3 C1 sm2", "exists already");
    ExpectFailsAndChangesNothing("container create SN3 C2 rsa3072", "key kind must be");
    ExpectFailsAndChangesNothing("container pubkey SN3 C1 enc " + m_dir + "/x.pem", "has no enc key");
    ExpectFailsAndChangesNothing("cert import SN3 C1 sign /nonexistent.pem", "cannot read /nonexistent.pem");
    ExpectFailsAndChangesNothing("cert import SN3 C1 both /etc/hostname", "key usage must be sign or enc");
    ExpectFailsAndChangesNothing("cert import SN3 C1 sign /etc/hostname", "is not a certificate");
    ExpectFailsAndChangesNothing("cert export SN3 C1 sign " + m_dir + "/c.pem", "has no sign certificate");
    ExpectFailsAndChangesNothing("file get SN3 none " + m_dir + "/f", "has no file");
    ExpectFailsAndChangesNothing("install-driver --root " + m_dir + "/d --name ../evil.so", "plain file name");
    ExpectFailsAndChangesNothing("frobnicate", "unknown command frobnicate");
    ExpectFailsAndChangesNothing("list --colour", "unknown option --colour");
    EXPECT_FALSE(softkey::PathExists(m_dir + "/x.pem"));
    EXPECT_FALSE(softkey::PathExists(m_dir + "/c.pem"));
    EXPECT_EQ(Cli("").status, 2);
}

TEST_F(CliTest, AMissingStoreKeyIsRefusedUntilAnExplicitInit) {
    ASSERT_EQ(Cli("create --serial K1 --vid 096E --pid 0309").status, 0);
    const std::string keyPath = m_dir + "/store/store.key";
    EXPECT_TRUE(softkey::PathExists(keyPath));  // made by "store init"
    ASSERT_EQ(Cli("container create K1 C1 sm2").status, 0);
    std::string oldKey;
    ASSERT_TRUE(softkey::ReadWholeFile(keyPath, oldKey));
    ASSERT_EQ(unlink(keyPath.c_str()), 0);

    ExpectFailsAndChangesNothing("show K1", "store.key is missing but the store holds 1 key(s)");
    ExpectFailsAndChangesNothing("create --serial K2 --vid 096E --pid 0309", "softkey store init --force");
    ExpectFailsAndChangesNothing("store init", "add --force");
    EXPECT_FALSE(softkey::PathExists(keyPath));

    CliResult r = Cli("store init --force");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("created the store key"), std::string::npos) << r.out;
    ExpectFailsAndChangesNothing("store init --force", "exists already");
    // The key stored under the lost store key stays refused; restoring that file brings it back.
    ExpectFailsAndChangesNothing("show K1", "fails the authentication check");
    softkey::WriteFileAtomic(keyPath, oldKey);
    r = Cli("show K1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("container C1: sign key sm2"), std::string::npos) << r.out;
}

TEST_F(CliTest, RecordsOfEarlierVersionsAreUsedOnlyOnceUpgraded) {
    // A store of an earlier version: an untagged record and no store key (it held no private key).
    softkey::Token old;
    old.serial = "OLD";
    old.vid = 0x096E;
    old.pid = 0x0309;
    softkey::Application app;
    app.name = "DEFAULT_APP";
    app.userPin = softkey::MakePin("12345678", 6);
    app.adminPin = softkey::MakePin("70315926", 6);
    old.apps.push_back(app);
    std::string record = softkey::EncodeToken(old);
    ASSERT_EQ(record.compare(0, 11, "{\"format\":2"), 0) << record;
    record.replace(10, 1, "1");
    softkey::MakeDirs(m_dir + "/store/tokens");
    softkey::WriteFileAtomic(m_dir + "/store/tokens/OLD.json", record);

    ExpectFailsAndChangesNothing("show OLD", "key OLD was stored by an earlier softkey");
    CliResult r = Cli("store upgrade");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "tagged the record of key OLD\n");
    EXPECT_EQ(Cli("show OLD").status, 0);

    // A tagged record changed by hand is never re-tagged.
    ASSERT_EQ(Cli("create --serial NEW --vid 096E --pid 0309 --label Plain").status, 0);
    std::string text;
    ASSERT_TRUE(softkey::ReadWholeFile(m_dir + "/store/tokens/NEW.json", text));
    text.replace(text.find("Plain"), 5, "Fancy");
    softkey::WriteFileAtomic(m_dir + "/store/tokens/NEW.json", text);
    r = Cli("store upgrade");
    EXPECT_EQ(r.out, "every key's record carries its tag already\n");
    ExpectFailsAndChangesNothing("show NEW", "key NEW is refused");
    r = Cli("list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("OLD 096e:0309 unplugged"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("key NEW is refused"), std::string::npos) << r.out;
}

}  // namespace

namespace {

TEST_F(CliTest, SealListsAndSealLibraries) {
    ASSERT_EQ(Cli("create --serial SL --vid 5448 --pid 0004").status, 0);
    std::string image = m_dir + "/img";
    softkey::WriteFileAtomic(image, std::string("a\0b", 3));
    ASSERT_EQ(Cli("seal add SL 'A b' " + image + " --time T1").status, 0);
    ASSERT_EQ(Cli("seal add SL O " + image + " --form oes --time ''").status, 0);
    ASSERT_EQ(Cli("seal add SL 'A b' " + image + " --time T2").status, 0);  // names may repeat
    EXPECT_EQ(Cli("seal list SL").out, "A b ggzy 3 T1\nO oes 3\nA b ggzy 3 T2\n");
    // Bad input changes nothing.
    EXPECT_EQ(Cli("seal add SL X " + image + " --form pdf").status, 2);
    EXPECT_EQ(Cli("seal add SL X " + m_dir + "/missing").status, 1);
    EXPECT_EQ(Cli("seal add NOPE X " + image).status, 1);
    EXPECT_EQ(Cli("seal list SL").out, "A b ggzy 3 T1\nO oes 3\nA b ggzy 3 T2\n");

    ASSERT_EQ(Cli("install-seal-library --root " + m_dir + "/drv --name ahca_oes.dll --family AHCA").status, 0);
    EXPECT_TRUE(softkey::PathExists(m_dir + "/drv/AHCA/ahca_oes.dll"));
    EXPECT_EQ(Cli("install-seal-library --root " + m_dir + "/drv --name other.dll").status, 2);
    EXPECT_FALSE(softkey::PathExists(m_dir + "/drv/other.dll"));

    EXPECT_EQ(Cli("fault SL ReadSealData 5 --arg O").status, 0);
    EXPECT_EQ(Cli("fault SL OES_GetSealImage overlong").status, 0);
    EXPECT_EQ(Cli("fault SL Unknown 5").status, 2);
    EXPECT_EQ(Cli("fault SL SKF_EnumFiles sometimes").status, 2);
    ASSERT_EQ(Cli("delete SL").status, 0);
    EXPECT_FALSE(softkey::PathExists(m_dir + "/store/seals/SL.json"));
}

}  // namespace

namespace {

TEST_F(CliTest, HelpAndVersionGoToStandardOutput) {
    for (const char* args : {"--help", "-h", "create --help", "fault -h"}) {
        CliResult r = Cli(args, " 2>/dev/null");
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out.rfind("Usage: softkey ", 0), 0u) << args << "\n" << r.out;
    }
    EXPECT_NE(Cli("--help", " 2>/dev/null").out.find("env [--drivers DIR]"), std::string::npos);
    CliResult version = Cli("--version", " 2>/dev/null");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("softkey ") + KIT_VERSION + "\n");
    // A mistake prints nothing to standard output.
    CliResult wrong = Cli("--nonsense", " 2>/dev/null");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
}

TEST_F(CliTest, OptionsTakeEitherFormAndAnyPlace) {
    ASSERT_EQ(Cli("create --serial=EQ1 --vid=096E --pid 0309 --label='A b'").status, 0);
    EXPECT_EQ(Cli("list").out, "EQ1 096e:0309 unplugged \"A b\"\n");
    ASSERT_EQ(Cli("fault --count=3 EQ1 SKF_ConnectDev 0x0A000005").status, 0);
    // "--" ends the options: a following word is positional even when it looks like one.
    EXPECT_EQ(Cli("plug -- --serial").status, 1);
    ExpectFailsAndChangesNothing("plug", "Usage: softkey plug SN");
    ExpectFailsAndChangesNothing("create --serial EQ2 --vid 096E --pid", "--pid needs a value");
    ExpectFailsAndChangesNothing("list --json=yes", "--json takes no value");
    ExpectFailsAndChangesNothing("plug EQ1 --count 2", "unknown option --count");
}

TEST_F(CliTest, NumbersAndFaultTargetsAreCheckedStrictly) {
    ASSERT_EQ(Cli("create --serial N1 --vid 096E --pid 0309").status, 0);
    ExpectFailsAndChangesNothing("create --serial N2 --vid 096E --pid 0309 --retries 5x", "--retries must be a number");
    ExpectFailsAndChangesNothing("create --serial N2 --vid 096E --pid 0309 --retries -1", "--retries must be a number");
    ExpectFailsAndChangesNothing("create --serial N2 --vid 096E --pid 0309 --retries 16", "--retries must be 1 to 15");
    ExpectFailsAndChangesNothing("fault N1 SKF_ConnectDev 0", "CODE must be 1 to");
    ExpectFailsAndChangesNothing("fault N1 SKF_ConnectDev 0x1FFFFFFFF", "CODE must be 1 to");
    ExpectFailsAndChangesNothing("fault N1 SKF_ConnectDev 5 --count ' 2'", "--count must be a number");
    // A misspelt SKF name would never fire: refused, like a name outside SKF.
    ExpectFailsAndChangesNothing("fault N1 SKF_ConectDev 5", "FUNCTION must be an SKF function");
    ExpectFailsAndChangesNothing("fault N1 SKF_ 5", "FUNCTION must be an SKF function");
    EXPECT_EQ(Cli("fault N1 SKF_ConectDev 5").status, 2);
    EXPECT_EQ(Cli("fault N1 SKF_GenerateAgreementDataWithECC 5").status, 0);
    EXPECT_EQ(Cli("fault NOPE SKF_ConnectDev 5").status, 1);
}

TEST_F(CliTest, ListAndShowAsJson) {
    ASSERT_EQ(Cli("create --serial J1 --vid 1EA8 --pid C003 --label 'say \"hi\"' --drivers a.dll").status, 0);
    ASSERT_EQ(Cli("create --serial J2 --vid 096E --pid 0309").status, 0);
    ASSERT_EQ(Cli("container create J1 C1 sm2").status, 0);
    ASSERT_EQ(Cli("plug J2").status, 0);

    rapidjson::Document list;
    std::string listed = Cli("list --json", " 2>/dev/null").out;
    ASSERT_FALSE(list.Parse(listed.c_str()).HasParseError()) << listed;
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_STREQ(list[0]["serial"].GetString(), "J1");
    EXPECT_STREQ(list[0]["vid"].GetString(), "1ea8");
    EXPECT_STREQ(list[0]["pid"].GetString(), "c003");
    EXPECT_STREQ(list[0]["label"].GetString(), "say \"hi\"");
    EXPECT_FALSE(list[0]["plugged"].GetBool());
    EXPECT_TRUE(list[1]["plugged"].GetBool());

    rapidjson::Document shown;
    std::string text = Cli("show J1 --json", " 2>/dev/null").out;
    ASSERT_FALSE(shown.Parse(text.c_str()).HasParseError()) << text;
    EXPECT_STREQ(shown["drivers"][0].GetString(), "a.dll");
    const rapidjson::Value& app = shown["applications"][0];
    EXPECT_STREQ(app["name"].GetString(), "DEFAULT_APP");
    EXPECT_EQ(app["userPin"]["triesLeft"].GetUint(), 6u);
    EXPECT_FALSE(app["userPin"]["locked"].GetBool());
    EXPECT_FALSE(app["adminPin"]["locked"].GetBool());
    EXPECT_STREQ(app["containers"][0]["name"].GetString(), "C1");
    EXPECT_STREQ(app["containers"][0]["signKey"].GetString(), "sm2");
    EXPECT_TRUE(app["containers"][0]["encKey"].IsNull());
    EXPECT_TRUE(app["containers"][0]["signCert"].IsNull());
    EXPECT_EQ(Cli("list --json", " 2>/dev/null").status, 0);
}

TEST_F(CliTest, DeviceAuthenticationIsSetAtCreationAndShown) {
    ASSERT_EQ(Cli("create --serial D1 --vid 096E --pid 0309").status, 0);
    ASSERT_EQ(Cli("create --serial D2 --vid 096E --pid 0309 --dev-auth-key 00112233445566778899AABBCCDDEEFF "
                  "--require-dev-auth")
                  .status,
              0);
    std::string plain = Cli("show D1").out;
    EXPECT_NE(plain.find("device authentication: SM4-ECB, default key, 10/10 tries left, not required"),
              std::string::npos)
        << plain;
    std::string set = Cli("show D2").out;
    EXPECT_NE(set.find("device authentication: SM4-ECB, key set, 10/10 tries left, required to create or "
                       "delete applications"),
              std::string::npos)
        << set;
    rapidjson::Document shown;
    std::string text = Cli("show D2 --json", " 2>/dev/null").out;
    ASSERT_FALSE(shown.Parse(text.c_str()).HasParseError()) << text;
    EXPECT_FALSE(shown["devAuth"]["defaultKey"].GetBool());
    EXPECT_TRUE(shown["devAuth"]["requiredForApplications"].GetBool());
    EXPECT_EQ(shown["devAuth"]["triesLeft"].GetUint(), 10u);
    // The key is kept sealed, not as the hexadecimal given.
    std::string record;
    ASSERT_TRUE(softkey::ReadWholeFile(softkey::Store(m_dir + "/store").TokenPath("D2"), record));
    EXPECT_EQ(record.find("00112233445566778899"), std::string::npos);
    EXPECT_EQ(record.find("ABEiM0RVZneImaq7zN3u/w=="), std::string::npos);

    ExpectFailsAndChangesNothing("create --serial D3 --vid 096E --pid 0309 --dev-auth-key 0011",
                                 "--dev-auth-key must be 32 hexadecimal digits");
    ExpectFailsAndChangesNothing("create --serial D3 --vid 096E --pid 0309 --dev-auth-key "
                                 "0011223344556677889900112233445g",
                                 "--dev-auth-key must be 32 hexadecimal digits");
}

TEST_F(CliTest, EnvPreparesAShell) {
    std::string drivers = m_dir + "/it's drivers";
    std::string script = "eval \"$(" + std::string(SOFTKEY_CLI) + " --store " + m_dir + "/store env --drivers \"" +
                         drivers + "\")\" && printf '%s|%s|%s' \"$SOFTKEY_STORE\" \"$TESSAL_USB_SYSFS\" " +
                         "\"$TESSAL_DRIVER_DIR\"";
    std::string file = m_dir + "/env.sh";
    softkey::WriteFileAtomic(file, script);
    kit_testing::CommandOutput shell = kit_testing::RunCommand("sh " + file);
    ASSERT_EQ(shell.status, 0);
    std::string store = m_dir + "/store";
    EXPECT_EQ(shell.out, store + "|" + store + "/sys/bus/usb/devices|" + drivers);
    EXPECT_EQ(Cli("env extra").status, 2);
}

}  // namespace

namespace {

TEST_F(CliTest, AStoreIsMadeOnlyByStoreInit) {
    const std::string missing = m_dir + "/missing";
    for (const char* args : {"list", "create --serial S1 --vid 096E --pid 0309", "env", "store upgrade"}) {
        CliResult r = kit_testing::RunCommand(std::string(SOFTKEY_CLI) + " --store " + missing + " " + args + " 2>&1");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "softkey: no store at " + missing + "; run softkey store init\n") << args;
        EXPECT_FALSE(softkey::PathExists(missing)) << args;
    }
    // The library installs write outside any store and make none.
    std::string install = std::string(SOFTKEY_CLI) + " --store " + missing + " install-driver --root " + m_dir +
                          "/drv --name SKF_APP.dll > /dev/null 2>&1";
    EXPECT_EQ(system(install.c_str()), 0);
    EXPECT_FALSE(softkey::PathExists(missing));

    CliResult init = kit_testing::RunCommand(std::string(SOFTKEY_CLI) + " --store " + missing + " store init 2>&1");
    ASSERT_EQ(init.status, 0) << init.out;
    EXPECT_TRUE(softkey::PathExists(missing + "/store.key"));
    EXPECT_EQ(kit_testing::RunCommand(std::string(SOFTKEY_CLI) + " --store " + missing + " list").status, 0);
}

TEST_F(CliTest, DashIsStandardInputAndOutput) {
    ASSERT_EQ(Cli("create --serial D1 --vid 096E --pid 0309").status, 0);
    ASSERT_EQ(Cli("container create D1 C1 rsa2048").status, 0);
    std::string pem = m_dir + "/pub.pem";
    ASSERT_EQ(Cli("container pubkey D1 C1 sign - > " + pem, "").status, 0);
    std::string publicKey;
    ASSERT_TRUE(softkey::ReadWholeFile(pem, publicKey));
    EXPECT_EQ(publicKey.rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u) << publicKey;

    std::string key = m_dir + "/ca.key", cert = m_dir + "/cert.pem";
    std::string mk = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -subj /CN=TestCA -days 2 -out " +
                     m_dir + "/ca.pem 2>/dev/null && openssl x509 -new -force_pubkey " + pem + " -subj /CN=Holder -CA " +
                     m_dir + "/ca.pem -CAkey " + key + " -days 2 -out " + cert + " 2>/dev/null";
    ASSERT_EQ(system(mk.c_str()), 0);
    ASSERT_EQ(Cli("cert import D1 C1 sign - < " + cert).status, 0);
    std::string original;
    softkey::ReadWholeFile(cert, original);
    CliResult exported = Cli("cert export D1 C1 sign -", " 2>/dev/null");
    ASSERT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out, original);
    EXPECT_FALSE(softkey::PathExists(m_dir + "/-"));

    const std::string data("bytes\0and more\n", 15);
    softkey::WriteFileAtomic(m_dir + "/data", data);
    ASSERT_EQ(Cli("file put D1 blob - < " + m_dir + "/data").status, 0);
    CliResult back = Cli("file get D1 blob -", " 2>/dev/null");
    ASSERT_EQ(back.status, 0);
    EXPECT_EQ(back.out, data);
    ASSERT_EQ(Cli("seal add D1 S - --time T < " + m_dir + "/data").status, 0);
    EXPECT_EQ(Cli("seal list D1").out, "S ggzy 15 T\n");
}

TEST_F(CliTest, ALockedPinIsShownLocked) {
    ASSERT_EQ(Cli("create --serial L1 --vid 096E --pid 0309").status, 0);
    {
        softkey::Store store(m_dir + "/store");
        softkey::Store::Lock lock(store, true);
        softkey::Token t = store.Load("L1");
        t.apps[0].userPin.remain = 0;
        t.apps[0].adminPin.remain = 1;
        store.Save(t);
    }
    std::string shown = Cli("show L1").out;
    EXPECT_NE(shown.find("user PIN locked (6 tries used), admin PIN 1/6 tries left"), std::string::npos) << shown;
    rapidjson::Document doc;
    std::string text = Cli("show L1 --json", " 2>/dev/null").out;
    ASSERT_FALSE(doc.Parse(text.c_str()).HasParseError()) << text;
    EXPECT_TRUE(doc["applications"][0]["userPin"]["locked"].GetBool());
    EXPECT_FALSE(doc["applications"][0]["adminPin"]["locked"].GetBool());
}

TEST_F(CliTest, OneUsageTextPerCommand) {
    for (const char* args : {"plug", "cert export D1", "container list", "store init extra", "env x"}) {
        CliResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << args;
        size_t first = r.out.find("sage: softkey");
        ASSERT_NE(first, std::string::npos) << args << "\n" << r.out;
        EXPECT_EQ(r.out.find("sage: softkey", first + 1), std::string::npos) << args << "\n" << r.out;
    }
}

}  // namespace
