// Devices, name lists, driver names, removal, events and PINs.
#include <atomic>
#include <cstring>
#include <thread>

#include "softkey_fixture.h"

using namespace softkey_test;

namespace {

std::vector<std::string> Names(const char* list) {
    std::vector<std::string> names;
    for (const char* p = list; *p; p += std::strlen(p) + 1) names.emplace_back(p);
    return names;
}

char* Text(const char* s) { return const_cast<char*>(s); }

TEST_F(SoftkeyTest, EnumDevListsPluggedKeysWithTheLengthRule) {
    AddKey("K2");
    AddKey("K1");
    AddKey("K3", false);
    SkfLibrary& lib = Lib();
    ULONG size = 0;
    ASSERT_EQ(SKF(lib, SKF_EnumDev)(TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 7u);  // "K1\0K2\0\0"
    char small[4];
    ULONG smallSize = sizeof small;
    EXPECT_EQ(SKF(lib, SKF_EnumDev)(TRUE, small, &smallSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(smallSize, 7u);
    char list[400];
    size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumDev)(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"K1", "K2"}));

    ULONG state = 9;
    EXPECT_EQ(SKF(lib, SKF_GetDevState)(Text("K1"), &state), SAR_OK);
    EXPECT_EQ(state, 1u);
    EXPECT_EQ(SKF(lib, SKF_GetDevState)(Text("K3"), &state), SAR_OK);
    EXPECT_EQ(state, 0u);

    DEVHANDLE dev = nullptr;
    EXPECT_EQ(SKF(lib, SKF_ConnectDev)(Text("K3"), &dev), SAR_DEVICE_REMOVED);
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("K2"), &dev), SAR_OK);
    DEVINFO info;
    ASSERT_EQ(SKF(lib, SKF_GetDevInfo)(dev, &info), SAR_OK);
    EXPECT_STREQ(info.SerialNumber, "K2");
    EXPECT_STREQ(info.Label, "test K2");
    EXPECT_EQ(SKF(lib, SKF_DisConnectDev)(dev), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_GetDevInfo)(dev, &info), SAR_INVALIDHANDLEERR);

    UnplugKey("K1");
    UnplugKey("K2");
    size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumDev)(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    EXPECT_TRUE(Names(list).empty());
}

TEST_F(SoftkeyTest, KeysRestrictedToDriverNamesAreListedOnlyByThoseCopies) {
    AddKey("ONLYB", true, {"b.dll"});
    AddKey("ANY");
    char list[400];
    ULONG size = sizeof list;
    ASSERT_EQ(SKF(Lib("a.dll"), SKF_EnumDev)(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ANY"}));
    DEVHANDLE dev = nullptr;
    EXPECT_EQ(SKF(Lib("a.dll"), SKF_ConnectDev)(Text("ONLYB"), &dev), SAR_DEVICE_REMOVED);
    size = sizeof list;
    ASSERT_EQ(SKF(Lib("b.dll"), SKF_EnumDev)(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"ANY", "ONLYB"}));
    EXPECT_EQ(SKF(Lib("b.dll"), SKF_ConnectDev)(Text("ONLYB"), &dev), SAR_OK);
}

TEST_F(SoftkeyTest, EveryHandleOfAnUnpluggedKeyAnswersDeviceRemoved) {
    AddKey("R1");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    OpenLoggedIn(lib, "R1", dev, app);
    HCONTAINER con;
    ASSERT_EQ(SKF(lib, SKF_CreateContainer)(app, Text("C"), &con), SAR_OK);
    UnplugKey("R1");
    DEVINFO info;
    ULONG n = 0, max = 0, remain = 0;
    BOOL def;
    EXPECT_EQ(SKF(lib, SKF_GetDevInfo)(dev, &info), SAR_DEVICE_REMOVED);
    EXPECT_EQ(SKF(lib, SKF_GetPINInfo)(app, USER_TYPE, &max, &remain, &def), SAR_DEVICE_REMOVED);
    EXPECT_EQ(SKF(lib, SKF_EnumContainer)(app, nullptr, &n), SAR_DEVICE_REMOVED);
    EXPECT_EQ(SKF(lib, SKF_GetContainerType)(con, &n), SAR_DEVICE_REMOVED);
    // Plugging it back starts a new session: old handles stay dead, the login is gone.
    PlugKey("R1");
    EXPECT_EQ(SKF(lib, SKF_GetDevInfo)(dev, &info), SAR_DEVICE_REMOVED);
    DEVHANDLE dev2;
    HAPPLICATION app2;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("R1"), &dev2), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev2, Text("DEFAULT_APP"), &app2), SAR_OK);
    HCONTAINER con2;
    EXPECT_EQ(SKF(lib, SKF_CreateContainer)(app2, Text("D"), &con2), SAR_USER_NOT_LOGIN);
}

TEST_F(SoftkeyTest, WaitForDevEventReportsArrivalRemovalAndCancel) {
    AddKey("W1", false);
    SkfLibrary& lib = Lib();
    auto wait = SKF(lib, SKF_WaitForDevEvent);
    std::atomic<int> stage{0};
    std::string names[2];
    ULONG events[2] = {0, 0};
    ULONG cancelled = 0;
    std::thread waiter([&] {
        for (int i = 0; i < 2; ++i) {
            char name[64];
            ULONG len = sizeof name;
            if (wait(name, &len, &events[i]) == SAR_OK) names[i] = name;
            stage = i + 1;
        }
        char name[64];
        ULONG len = sizeof name, event = 0;
        cancelled = wait(name, &len, &event);
        stage = 3;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the waiter takes its baseline
    PlugKey("W1");
    while (stage < 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    UnplugKey("W1");
    while (stage < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(SKF(lib, SKF_CancelWaitForDevEvent)(), SAR_OK);
    waiter.join();
    EXPECT_EQ(names[0], "W1");
    EXPECT_EQ(events[0], static_cast<ULONG>(SKF_EVENT_DEVICE_ARRIVED));
    EXPECT_EQ(names[1], "W1");
    EXPECT_EQ(events[1], static_cast<ULONG>(SKF_EVENT_DEVICE_REMOVED));
    EXPECT_EQ(cancelled, static_cast<ULONG>(SAR_NOT_EVENTERR));
}

TEST_F(SoftkeyTest, UserPinCountsDownLocksAndIsUnblockedByTheAdministrator) {
    AddKey("P1");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("P1"), &dev), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev, Text("DEFAULT_APP"), &app), SAR_OK);
    auto verify = SKF(lib, SKF_VerifyPIN);
    ULONG retry = 99, max = 0, remain = 0;
    BOOL isDefault = FALSE;
    ASSERT_EQ(SKF(lib, SKF_GetPINInfo)(app, USER_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(max, 6u);
    EXPECT_EQ(remain, 6u);
    EXPECT_TRUE(isDefault);

    EXPECT_EQ(verify(app, USER_TYPE, Text("000000"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 5u);
    EXPECT_EQ(verify(app, USER_TYPE, Text("12345678"), &retry), SAR_OK);  // a success resets
    EXPECT_EQ(retry, 6u);
    for (ULONG left = 5; left >= 1; --left) {
        EXPECT_EQ(verify(app, USER_TYPE, Text("7306"), &retry), SAR_PIN_INCORRECT);
        EXPECT_EQ(retry, left);
    }
    EXPECT_EQ(verify(app, USER_TYPE, Text("7306"), &retry), SAR_PIN_LOCKED);
    EXPECT_EQ(retry, 0u);
    EXPECT_EQ(verify(app, USER_TYPE, Text("12345678"), &retry), SAR_PIN_LOCKED);  // even the right one

    // The counters are the key's: another process or connection sees the same.
    DEVHANDLE dev2;
    HAPPLICATION app2;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("P1"), &dev2), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev2, Text("DEFAULT_APP"), &app2), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_GetPINInfo)(app2, USER_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(remain, 0u);

    EXPECT_EQ(SKF(lib, SKF_UnblockPIN)(app, Text("11111111"), Text("87654321"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 5u);
    ASSERT_EQ(SKF(lib, SKF_UnblockPIN)(app, Text("70315926"), Text("87654321"), &retry), SAR_OK);
    EXPECT_EQ(verify(app, USER_TYPE, Text("87654321"), &retry), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_GetPINInfo)(app, USER_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(remain, 6u);
    EXPECT_FALSE(isDefault);
    ASSERT_EQ(SKF(lib, SKF_GetPINInfo)(app, ADMIN_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(remain, 6u);  // the successful unblock reset the administrator's count
}

TEST_F(SoftkeyTest, ChangePinAndClearSecureState) {
    AddKey("P2");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    OpenLoggedIn(lib, "P2", dev, app);
    ULONG retry = 0;
    EXPECT_EQ(SKF(lib, SKF_ChangePIN)(app, USER_TYPE, Text("wrong!!"), Text("abcdefgh"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 5u);
    EXPECT_EQ(SKF(lib, SKF_ChangePIN)(app, USER_TYPE, Text("12345678"), Text("12345"), &retry), SAR_PIN_LEN_RANGE);
    ASSERT_EQ(SKF(lib, SKF_ChangePIN)(app, USER_TYPE, Text("12345678"), Text("abcdefgh"), &retry), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("12345678"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("abcdefgh"), &retry), SAR_OK);
    HCONTAINER con;
    ASSERT_EQ(SKF(lib, SKF_ClearSecureState)(app), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_CreateContainer)(app, Text("C"), &con), SAR_USER_NOT_LOGIN);
    EXPECT_EQ(SKF(lib, SKF_VerifyPIN)(app, 7, Text("abcdefgh"), &retry), SAR_USER_TYPE_INVALID);
}

TEST_F(SoftkeyTest, ApplicationsAreRecreatedAsAKeyClearingDoes) {
    AddKey("AP");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    OpenLoggedIn(lib, "AP", dev, app);
    HCONTAINER con;
    ASSERT_EQ(SKF(lib, SKF_CreateContainer)(app, Text("C"), &con), SAR_OK);
    ULONG retry = 0;
    ASSERT_EQ(SKF(lib, SKF_VerifyPIN)(app, ADMIN_TYPE, Text("70315926"), &retry), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_DeleteApplication)(dev, Text("DEFAULT_APP")), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_EnumContainer)(app, nullptr, &retry), SAR_APPLICATION_NOT_EXISTS);
    HAPPLICATION created;
    ASSERT_EQ(SKF(lib, SKF_CreateApplication)(dev, Text("RedozAreZezUvizI2"), Text("70315926"), 6,
                                              Text("26184053"), 6, 0xFF, &created),
              SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_CreateApplication)(dev, Text("RedozAreZezUvizI2"), Text("70315926"), 6,
                                              Text("26184053"), 6, 0xFF, &created),
              SAR_APPLICATION_EXISTS);
    char list[1024];
    ULONG size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumApplication)(dev, list, &size), SAR_OK);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"RedozAreZezUvizI2"}));
    size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumContainer)(created, list, &size), SAR_OK);
    EXPECT_TRUE(Names(list).empty());
    EXPECT_EQ(SKF(lib, SKF_VerifyPIN)(created, USER_TYPE, Text("26184053"), &retry), SAR_OK);
}

}  // namespace
