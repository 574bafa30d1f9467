// Keys plugged in and pulled out while the host runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "key_rig.h"
#include "tessal/devices.h"
#include "tessal/result.h"

namespace {

using Ids = std::vector<std::string>;
using Events = std::vector<std::pair<int, std::string>>;

class HotplugTest : public HotplugRigTest {};

TEST_F(HotplugTest, PlugAndUnplugCallTheCallbackOnceEach) {
    Softkey("create --serial H1 --vid 1D99 --pid 0001");
    Softkey("plug H1");
    ASSERT_TRUE(m_events.WaitFor(1));
    std::string current;
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "H1");
    Softkey("unplug H1");
    ASSERT_TRUE(m_events.WaitFor(2));
    EXPECT_EQ(m_events.Events(), (Events{{1, "H1"}, {0, "H1"}}));
    EXPECT_FALSE(ZYKIsPinVerified());
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    EXPECT_NE(LogText().find("insert device vpid:1D99&0001"), std::string::npos);
    EXPECT_NE(LogText().find("remove device vpid:1D99&0001"), std::string::npos);
}

TEST_F(HotplugTest, DevicesOutsideTheCatalogueAreLoggedAndIgnored) {
    Softkey("create --serial U1 --vid 1234 --pid 5678");
    Softkey("plug U1");
    Softkey("create --serial H2 --vid 1D99 --pid 0001");
    Softkey("plug H2");
    ASSERT_TRUE(m_events.WaitFor(1));
    EXPECT_EQ(m_events.Events(), (Events{{1, "H2"}}));
    EXPECT_NE(LogText().find("insert device vpid:1234&5678"), std::string::npos);
}

TEST_F(HotplugTest, AKeyPluggedInWithoutItsDriverIsListedUntilItIsPulledOut) {
    Softkey("create --serial N1 --vid 1EA8 --pid C109");  // its library is not installed
    Softkey("create --serial H3 --vid 1D99 --pid 0001");
    EXPECT_TRUE(ZYKGetUnopenedKeys().empty());
    Softkey("plug N1");
    Softkey("plug H3");
    ASSERT_TRUE(m_events.WaitFor(1));  // notices are handled in order: N1's came first
    std::vector<std::string> unopened = ZYKGetUnopenedKeys();
    ASSERT_EQ(unopened.size(), 1u);
    EXPECT_EQ(unopened[0].rfind("key 1EA8:C109 present; no driver library found in ", 0), 0u) << unopened[0];
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"H3"});
    Softkey("unplug N1");
    Softkey("unplug H3");
    ASSERT_TRUE(m_events.WaitFor(2));
    EXPECT_EQ(m_events.Events(), (Events{{1, "H3"}, {0, "H3"}}));
    EXPECT_TRUE(ZYKGetUnopenedKeys().empty());
}

TEST_F(HotplugTest, PullingOneOfTwoKeysDropsOnlyTheOneThatIsGone) {
    Softkey("create --serial A1 --vid 1D99 --pid 0001");
    Softkey("create --serial Z9 --vid 1D99 --pid 0001");
    Softkey("plug Z9");
    ASSERT_TRUE(m_events.WaitFor(1));
    Softkey("plug A1");
    ASSERT_TRUE(m_events.WaitFor(2));
    std::string current;
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "Z9");  // the first key to arrive stays current

    // Pulling the current key falls back to the lowest id; the other key sorts first here.
    Softkey("unplug Z9");
    ASSERT_TRUE(m_events.WaitFor(3));
    EXPECT_EQ(m_events.Events().back(), std::make_pair(0, std::string("Z9")));
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"A1"});
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "A1");
}

TEST_F(HotplugTest, TheCallbackMayCallBackIntoTheLibrary) {
    Ids seen;
    std::function<void(int, const std::string&)> callback = [&](int event, const std::string& id) {
        seen = ZYKGetDeviceIds();
        std::string current;
        ZYKGetCurrentDeviceId(current);
        m_events.Record(event, id + ":" + current);
    };
    ZYKRegister(callback);
    Softkey("create --serial CB --vid 1D99 --pid 0001");
    Softkey("plug CB");
    ASSERT_TRUE(m_events.WaitFor(1));
    EXPECT_EQ(m_events.Events(), (Events{{1, "CB:CB"}}));
    EXPECT_EQ(seen, Ids{"CB"});
}

TEST_F(HotplugTest, HostThreadsAndTwoHundredPlugCyclesStaySafe) {
    Softkey("create --serial ST1 --vid 1D99 --pid 0001");
    std::atomic<bool> done{false};
    std::atomic<long> calls{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t) {
        hosts.emplace_back([&, t] {
            while (!done) {
                std::string text;
                switch ((calls++ + t) % 6) {
                    case 0: ZYKGetDeviceIds(); break;
                    case 1: ZYKGetCurrentDeviceId(text); break;
                    case 2: ZYKIsPinVerified(); break;
                    case 3: ZYKVerifyPin("12345678", ""); break;
                    case 4: ZYKGetContainers(); break;
                    default: ZYKLibName(); ZYKGetLastError(); break;
                }
            }
        });
    }
    const int cycles = 200;
    bool delivered = true;
    for (int i = 0; i < cycles && delivered; ++i) {
        Softkey("plug ST1");
        delivered = m_events.WaitFor(2 * i + 1);
        Softkey("unplug ST1");
        delivered = delivered && m_events.WaitFor(2 * i + 2);
    }
    done = true;
    for (auto& h : hosts) h.join();
    ASSERT_TRUE(delivered);
    Events events = m_events.Events();
    ASSERT_EQ(events.size(), static_cast<size_t>(2 * cycles));
    for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i], std::make_pair(i % 2 == 0 ? 1 : 0, std::string("ST1")));
    EXPECT_GT(calls.load(), 0);
    EXPECT_TRUE(ZYKGetDeviceIds().empty());
}

}  // namespace
