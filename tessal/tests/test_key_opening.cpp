// Opening keys through their vendor libraries, and the device and PIN exports.
#include <gtest/gtest.h>

#include "api/last_error.h"
#include "devices/key_manager.h"
#include "key_rig.h"
#include "tessal/devices.h"
#include "tessal/result.h"
#include "token/skf_ukey.h"

namespace {

using Ids = std::vector<std::string>;

TEST_F(KeyRigTest, LibrariesThatCannotBeBoundFailWithCode11) {
    InstallDriver("WDSKF.dll");  // loads by its plain name, but this vendor's fixed path is used
    SkfUKey watchData("WDSKF.dll");
    EXPECT_FALSE(watchData.IsOpened());
    EXPECT_EQ(watchData.GetDeviceId(), "");
    EXPECT_EQ(watchData.InitFuncList().ErrorCode(), 11);
    EXPECT_EQ(ZYKGetLastError(), "加载SKF库失败");

    std::string copy = "cp " + std::string(SKF_WITHOUT_WAIT_LIBRARY) + " '" + m_dir + "/drivers/GuoMi.dll'";
    ASSERT_EQ(system(copy.c_str()), 0);
    SkfUKey noWait("GuoMi.dll");
    EXPECT_FALSE(noWait.IsOpened());
    EXPECT_EQ(noWait.InitFuncList().ErrorCode(), 11);

    SkfUKey missing("NetcaSKF.dll");
    EXPECT_FALSE(missing.IsOpened());
}

TEST_F(KeyRigTest, KindFollowsTheExactLibraryName) {
    InstallDriver("EsZYKEBankCspV2.dll");
    InstallDriver("eszykebankcspv2.dll");
    AddKey("K0", "1EA8&C109");
    SkfUKey own("EsZYKEBankCspV2.dll");
    EXPECT_EQ(own.GetUkeyType(), 0);
    EXPECT_TRUE(own.IsOpened());
    EXPECT_EQ(own.GetDeviceId(), "K0");
    SkfUKey other("eszykebankcspv2.dll");
    EXPECT_EQ(other.GetUkeyType(), 1);
}

TEST_F(KeyRigTest, CataloguedLibrariesAreTriedInOrderUntilOneOpens) {
    for (const char* lib : {"SZCAEkey3003CSP11.dll", "JITGMKEY_SJK1424.dll", "twcxftp11d.dll", "ShuttleCsp11_3000GM.dll"})
        InstallDriver(lib);
    AddKey("S1", "096E&0309", "--drivers ShuttleCsp11_3000GM.dll");
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"S1"});
    EXPECT_EQ(ZYKLibName(), "ShuttleCsp11_3000GM.dll");
    EXPECT_EQ(LogCount("========== ukey init failure"), 3u);
    EXPECT_EQ(LogCount("========== ukey init success"), 1u);
    EXPECT_EQ(LogCount("========== ukey DeviceId: S1"), 1u);
    std::string type;
    ASSERT_TRUE(ZYKGetUkeyType(type));
    EXPECT_EQ(type, "1");
}

TEST_F(KeyRigTest, TwoKeysOfOneLibraryAndTheOrderOfDeviceIds) {
    InstallDriver("EsZYKEBankCspV2.dll");
    InstallDriver("SKF_APP.dll");
    AddKey("B1", "1D99&0001");
    AddKey("A1", "1EA8&C109");
    AddKey("A2", "1EA8&C109");
    // The maker's own keys first (latest id first among them), then the others in id order.
    EXPECT_EQ(ZYKGetDeviceIds(), (Ids{"A2", "A1", "B1"}));
    std::string current;
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "B1");  // the last key the walk opened (entries sk-A1, sk-A2, sk-B1)

    std::string id = "A1";
    ASSERT_TRUE(ZYKChangeCurrentDeviceId(id));
    EXPECT_EQ(ZYKLibName(), "EsZYKEBankCspV2.dll");
    std::string unknown = "ZZ";
    EXPECT_FALSE(ZYKChangeCurrentDeviceId(unknown));
    EXPECT_EQ(ZYKGetLastError(), "未定义的错误，错误码:31");
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "A1");
    EXPECT_EQ(ZYKGetDeviceIds(), (Ids{"A2", "A1", "B1"}));
}

TEST_F(KeyRigTest, WithoutKeysExportsReportNoKey) {
    EXPECT_TRUE(ZYKGetDeviceIds().empty());
    EXPECT_EQ(ZYKGetLastError(), "Error");  // listing needs no key and reports nothing
    EXPECT_FALSE(ZYKIsPinVerified());
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    EXPECT_EQ(ZYKVerifyPin("12345678", ""), 0);
    EXPECT_EQ(ZYKLibName(), "");
    EXPECT_EQ(ZYKGetContainers(), "");
    std::string id = "x";
    EXPECT_FALSE(ZYKGetCurrentDeviceId(id));
    EXPECT_EQ(id, "x");
}

TEST_F(KeyRigTest, VerifyPinCountsSwitchesKeysAndNeverFakesSuccess) {
    InstallDriver("SKF_APP.dll");
    AddKey("P1", "1D99&0001");
    AddKey("P2", "1D99&0001");
    std::string current;
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "P2");

    EXPECT_EQ(ZYKVerifyPin("000000", ""), 5);
    EXPECT_EQ(ZYKGetLastError(), "密码不正确");
    EXPECT_FALSE(ZYKIsPinVerified());
    EXPECT_EQ(ZYKVerifyPin("12345678", ""), -1);
    EXPECT_TRUE(ZYKIsPinVerified());

    // Another key's id makes that key current, whatever the outcome.
    EXPECT_EQ(ZYKVerifyPin("bad-pin", "P1"), 5);
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "P1");
    EXPECT_FALSE(ZYKIsPinVerified());

    // An id that is not attached fails before any key counts: 0, not the success value.
    EXPECT_EQ(ZYKVerifyPin("12345678", "NOT-THERE"), 0);
    EXPECT_EQ(ZYKGetLastError(), "获取USB信息失败");
    ASSERT_TRUE(ZYKGetCurrentDeviceId(current));
    EXPECT_EQ(current, "P1");

    // A locked PIN reports 0 tries and code 20.
    for (int i = 0; i < 5; ++i) ZYKVerifyPin("bad-pin", "P1");
    EXPECT_EQ(ZYKVerifyPin("12345678", "P1"), 0);
    EXPECT_EQ(ZYKGetLastError(), "密码不正确");
}

TEST_F(KeyRigTest, ChangePinUnblockAndClearingTheKey) {
    InstallDriver("EsZYKEBankCspV2.dll");
    InstallDriver("SKF_APP.dll");
    AddKey("A1", "1EA8&C109");
    Softkey("container create A1 CntA sm2");
    Softkey("container create A1 CntB rsa2048");
    Softkey("unplug A1");
    Softkey("plug A1");
    EXPECT_EQ(ZYKGetContainers(), "CntA;CntB");

    EXPECT_FALSE(ZYKChangePIN("12345", "87654321"));
    EXPECT_EQ(ZYKGetLastError(), "密码不能少于六位数");
    EXPECT_FALSE(ZYKChangePIN("11111111", "87654321"));
    EXPECT_EQ(ZYKGetLastError(), "修改密码失败");
    ASSERT_TRUE(ZYKChangePIN("12345678", "87654321"));
    EXPECT_EQ(ZYKVerifyPin("87654321", ""), -1);

    // A driver that never counts down must not hang the unblock.
    Softkey("fault A1 SKF_VerifyPIN 0x0A000024 --count 50 --arg user");
    ASSERT_TRUE(ZYKUnblockPIN("13572468"));
    Softkey("fault A1 clear");
    EXPECT_EQ(ZYKVerifyPin("13572468", ""), -1);

    ASSERT_TRUE(ZYKClearUkey());
    EXPECT_FALSE(ZYKIsPinVerified());  // key objects were made anew
    EXPECT_EQ(ZYKGetDeviceIds(), Ids{"A1"});
    EXPECT_EQ(ZYKGetContainers(), "");
    EXPECT_EQ(ZYKVerifyPin("26184053", ""), -1);
}

TEST_F(KeyRigTest, KeysOfOtherVendorsRefuseClearingAndUnblocking) {
    InstallDriver("SKF_APP.dll");
    AddKey("B1", "1D99&0001");
    Softkey("container create B1 C1 sm2");
    EXPECT_FALSE(ZYKClearUkey());
    EXPECT_EQ(ZYKGetLastError(), "UKey不支持此功能");
    EXPECT_FALSE(ZYKUnblockPIN("12345678"));
    EXPECT_EQ(ZYKGetLastError(), "UKey不支持此功能");
    EXPECT_EQ(ZYKGetContainers(), "C1");
    EXPECT_FALSE(ZYKCurrentCertIsSM2());
}

TEST_F(KeyRigTest, OpeningFailuresOfTheDriverAreReported) {
    InstallDriver("SKF_APP.dll");
    AddKey("F1", "1D99&0001");
    Softkey("container create F1 Good sm2");
    Softkey("container create F1 Broken sm2");
    Softkey("fault F1 SKF_OpenContainer 0x0A000001 --arg Broken");
    SkfUKey key("SKF_APP.dll");
    ASSERT_TRUE(key.IsOpened());
    EXPECT_EQ(key.GetContainerNames(), Ids{"Good"});

    Softkey("fault F1 SKF_ConnectDev 0x0A000001");
    SkfUKey refused("SKF_APP.dll");
    EXPECT_FALSE(refused.IsOpened());
    EXPECT_EQ(ZYKGetLastError(), "连接设备失败");

    Softkey("fault F1 SKF_OpenContainer 0x0A000001 --count 2");
    SkfUKey noContainer("SKF_APP.dll");
    EXPECT_TRUE(noContainer.IsOpened());  // open, but its containers could not be opened
    EXPECT_EQ(ZYKGetLastError(), "打开容器失败");
}

}  // namespace
