// Keys shared between host calls and hot-plug handling, and the driver handles they hold.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "api/encodings.h"
#include "cert_factory.h"
#include "devices/key_manager.h"
#include "key_rig.h"
#include "tessal/certificates.h"
#include "tessal/devices.h"
#include "tessal/result.h"
#include "tessal/signing.h"
#include "token/skf_ukey.h"

namespace {

using Ids = std::vector<std::string>;
using Events = std::vector<std::pair<int, std::string>>;
constexpr unsigned kDevices = 1, kContainers = 3, kHashes = 4;
const std::string kBuiltin = TESSAL_BUILTIN_CERTS_DIR;

class KeySharingTest : public HotplugRigTest {
protected:
    // A plugged RSA key with a certificate under the built-in SHECA G2, the PIN verified.
    void UseRsaKey(const std::string& serial) {
        Softkey("create --serial " + serial + " --vid 1D99 --pid 0001");
        Softkey("container create " + serial + " CntRSA rsa2048");
        EVP_PKEY* ca = test_support::LoadPemKey(kBuiltin + "/test-only-keys/dev-standin-sheca-g2.key");
        test_support::CertSpec spec;
        spec.subjectCN = "RSA signer";
        spec.issuerC = "CN";
        spec.issuerO = "UniTrust";
        spec.issuerCN = "SHECA G2";
        IssueOnKey(serial, "CntRSA", spec, ca);
        EVP_PKEY_free(ca);
        size_t heard = m_events.Events().size();
        Softkey("plug " + serial);
        ASSERT_TRUE(m_events.WaitFor(heard + 1));
        ASSERT_EQ(ZYKVerifyPin("12345678", serial), -1);
    }
    // Waits (bounded) until the log holds `text`.
    bool WaitForLog(const std::string& text) {
        for (int i = 0; i < 400; ++i) {
            if (LogCount(text) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

// A loopback server that accepts connections and never answers until it is closed.
class SilentServer {
public:
    SilentServer() {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(m_listen, 4) == 0 &&
            getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~SilentServer() {
        if (m_client >= 0) close(m_client);
        close(m_listen);
    }
    int Port() const { return m_port; }
    // Waits (bounded) for a client and keeps its connection open without answering.
    bool Accept() {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 20000) != 1) return false;
        m_client = accept(m_listen, nullptr, nullptr);
        return m_client >= 0;
    }
    void Hangup() {
        if (m_client >= 0) close(m_client);
        m_client = -1;
    }

private:
    int m_listen = -1;
    int m_client = -1;
    int m_port = 0;
};

TEST_F(KeySharingTest, HostCallsDoNotWaitForAnArrivalOrARemovalBeingHandled) {
    // Real pauses: three seconds before each library opens the key, and before a removal.
    setenv("TESSAL_SETTLE_MS", "3000", 1);
    Softkey("create --serial P1 --vid 1D99 --pid 0001");
    Softkey("plug P1");
    ASSERT_TRUE(WaitForLog("insert device vpid:1D99&0001"));
    // The listener is opening the key: host calls answer from the set as it stands.
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{});
    std::string current;
    EXPECT_FALSE(ZYKGetCurrentDeviceId(current));
    EXPECT_TRUE(m_events.Events().empty()) << "the call waited for the arrival";
    ASSERT_TRUE(m_events.WaitFor(1));

    Softkey("unplug P1");
    ASSERT_TRUE(WaitForLog("remove device vpid:1D99&0001"));
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"P1"});
    EXPECT_EQ(m_events.Events().size(), 1u) << "the call waited for the removal";
    ASSERT_TRUE(m_events.WaitFor(2));
    EXPECT_EQ(m_events.Events(), (Events{{1, "P1"}, {0, "P1"}}));
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{});
}

TEST_F(KeySharingTest, AKeyPulledDuringASignatureLivesUntilTheSignatureReturns) {
    UseRsaKey("TS1");
    SilentServer timeService;
    ASSERT_GT(timeService.Port(), 0);
    setenv("TESSAL_CONNECT_TO", ("::127.0.0.1:" + std::to_string(timeService.Port())).c_str(), 1);
    std::atomic<bool> returned{false};
    bool signedOk = false;
    std::string p7;
    std::thread host([&] {
        signedOk = ZYKSignP7(Base64Encode(ByteArray("content", 7)), p7, 1);
        returned = true;
    });
    // The signature is made and its time-stamp request waits on a service that does not answer.
    ASSERT_TRUE(timeService.Accept());
    Softkey("unplug TS1");
    // The host hears of the removal while the signature still waits, and other calls go on.
    ASSERT_TRUE(m_events.WaitFor(2));
    EXPECT_EQ(m_events.Events().back(), std::make_pair(0, std::string("TS1")));
    EXPECT_FALSE(returned);
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{});
    // The signature's key object is still open, with its device connected.
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kDevices), 1);
    timeService.Hangup();
    host.join();
    EXPECT_TRUE(signedOk) << ZYKGetLastError();  // without a time-stamp
    EXPECT_FALSE(p7.empty());
    // Released when the signature returned (its library unloaded with it: -1).
    EXPECT_LE(OpenHandles("SKF_APP.dll", kDevices), 0);
}

TEST_F(KeySharingTest, ReadingCertificatesAndSigningLeaveNoDriverHandlesBehind) {
    UseRsaKey("HL1");
    std::string cert;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ZYKGetCertData(cert));
    std::string id, cn, c, o, serial, start, end, alg, icn, ic, il, ist, io, iou, mail;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(ZYKGetCertInfo(id, cn, c, o, serial, start, end, alg, icn, ic, il, ist, io, iou, mail, "", ""));
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kContainers), 1);  // the container in use, once
    std::string data = "signed on the key", sig;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ZYKSignData(data, "12345678", sig)) << ZYKGetLastError();
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kHashes), 0);
    // Failing hashes close their handles too.
    Softkey("fault HL1 SKF_Digest 0x0A000001");
    EXPECT_FALSE(ZYKSignData(data, "12345678", sig));
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kHashes), 0);
    auto* key = dynamic_cast<SkfUKey*>(UKeyManager::GetInstance().GetCurrentUKey().get());
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->DeleteEmptyContainer().ErrorCode(), 0);
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kContainers), 1);
}

TEST_F(KeySharingTest, Sm2SealSignaturesCloseTheirHashHandles) {
    Softkey("create --serial SL1 --vid 1D99 --pid 0001");
    Softkey("container create SL1 CntSM2 sm2");
    Softkey("plug SL1");
    ASSERT_TRUE(m_events.WaitFor(1));
    ASSERT_EQ(ZYKVerifyPin("12345678", "SL1"), -1);
    std::string sig;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(ZYKSignSeal(Base64Encode(ByteArray("seal", 4)), sig)) << ZYKGetLastError();
    Softkey("fault SL1 SKF_Digest 0x0A000001");
    EXPECT_FALSE(ZYKSignSeal(Base64Encode(ByteArray("seal", 4)), sig));
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kHashes), 0);
}

// The current key is one per process. A host that signs from several threads serialises
// selecting a key and signing with it; each signature is then made with the key its thread chose.
TEST_F(KeySharingTest, ThreadsThatSerialiseSelectAndSignSignWithTheKeyTheyChose) {
    const std::vector<std::string> serials = {"MT1", "MT2", "MT3"};
    std::vector<EVP_PKEY*> keys;
    for (const std::string& serial : serials) {
        UseRsaKey(serial);
        keys.push_back(ContainerPublicKey(serial, "CntRSA"));
        ASSERT_NE(keys.back(), nullptr);
    }
    std::mutex hostMutex;  // the host's own lock around select-and-use
    std::atomic<int> failed{0}, wrongKey{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < serials.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                std::string id = serials[t], data = id + " signs #" + std::to_string(i), sig;
                bool made;
                {
                    std::lock_guard<std::mutex> lock(hostMutex);
                    made = ZYKChangeCurrentDeviceId(id) && ZYKSignData(data, "12345678", sig);
                }
                if (!made) {
                    ++failed;
                    continue;
                }
                ByteArray raw = Base64Decode(sig);
                EVP_MD_CTX* md = EVP_MD_CTX_new();
                bool verified = EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, keys[t]) == 1 &&
                                EVP_DigestVerify(md, raw.data(), static_cast<size_t>(raw.length()),
                                                 reinterpret_cast<const unsigned char*>(data.data()),
                                                 data.size()) == 1;
                EVP_MD_CTX_free(md);
                if (!verified) ++wrongKey;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (EVP_PKEY* key : keys) EVP_PKEY_free(key);
    EXPECT_EQ(failed, 0) << ZYKGetLastError();
    EXPECT_EQ(wrongKey, 0);
}

// The exiting process's static objects go while the other thread still reports failures, logs
// and signs: whatever an export touches outlives it.
TEST_F(KeySharingTest, ExitWhileAnotherThreadSignsEndsCleanly) {
    // The exiting process is a fresh run of this test, with its listener thread and keys.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UseRsaKey("EX1");
    setenv("TESSAL_CONNECT_TO", "::127.0.0.1:9", 1);  // no time service: signatures come quickly
    std::string p7;
    ASSERT_TRUE(ZYKSignP7(Base64Encode(ByteArray("content", 7)), p7, 1)) << ZYKGetLastError();
    EXPECT_EXIT(
        {
            std::thread([] {
                for (;;) {
                    std::string out, id;
                    ZYKSignP7(Base64Encode(ByteArray("content", 7)), out, 1);
                    ZYKCurrentCertIsSM2();
                    ZYKGetCurrentDeviceId(id);
                }
            }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(KeyRigTest, AKeyOpenedAgainListsEachContainerOnce) {
    InstallDriver("SxcaCsp11_3000GM.dll");
    AddKey("SX1", "096E&0309", "--drivers SxcaCsp11_3000GM.dll");
    Softkey("container create SX1 C1 sm2");
    Softkey("unplug SX1");
    Softkey("plug SX1");
    EXPECT_EQ(ZYKGetContainers(), "C1");
    // This library's key is opened again for every PIN verification.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ZYKVerifyPin("12345678", ""), -1);
    EXPECT_EQ(ZYKGetContainers(), "C1");
}

TEST_F(KeyRigTest, ReleasingAKeyClosesItsHandlesOnlyForTheOwnMiddleware) {
    InstallDriver("SKF_APP.dll");
    InstallDriver("EsZYKEBankCspV2.dll");
    AddKey("R1", "1D99&0001", "--drivers SKF_APP.dll");
    AddKey("R0", "1EA8&C109", "--drivers EsZYKEBankCspV2.dll");
    SkfUKey other("SKF_APP.dll");
    ASSERT_TRUE(other.IsOpened());
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kDevices), 1);
    other.ReleaseKey();
    EXPECT_FALSE(other.IsOpened());
    EXPECT_EQ(OpenHandles("SKF_APP.dll", kDevices), 1);  // kind 1: the handles stay open
    SkfUKey own("EsZYKEBankCspV2.dll");
    ASSERT_TRUE(own.IsOpened());
    EXPECT_EQ(OpenHandles("EsZYKEBankCspV2.dll", kDevices), 1);
    own.ReleaseKey();
    EXPECT_EQ(OpenHandles("EsZYKEBankCspV2.dll", kDevices), 0);
}

TEST_F(KeyRigTest, AnotherAdministratorPinLocksNothingAndClearsNothing) {
    InstallDriver("EsZYKEBankCspV2.dll");
    AddKey("AD1", "1EA8&C109", "--admin-pin 11223344");
    Softkey("container create AD1 CntA sm2");
    Softkey("unplug AD1");
    Softkey("plug AD1");
    ASSERT_EQ(ZYKGetContainers(), "CntA");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(ZYKUnblockPIN("13572468"));
        EXPECT_EQ(ZYKGetLastError(), "UKEY解锁失败");
    }
    // The user PIN was never driven down: it still verifies, with every try left.
    EXPECT_EQ(ZYKVerifyPin("12345678", ""), -1);
    EXPECT_FALSE(ZYKClearUkey());
    EXPECT_EQ(ZYKGetContainers(), "CntA");
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"AD1"});
    EXPECT_EQ(ZYKVerifyPin("12345678", ""), -1);
}

}  // namespace
