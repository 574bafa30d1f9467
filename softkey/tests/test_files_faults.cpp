// Files with access rights, and injected failures.
#include <cstring>

#include "core/faults.h"
#include "softkey_fixture.h"

using namespace softkey_test;

namespace {

char* Text(const char* s) { return const_cast<char*>(s); }

TEST_F(SoftkeyTest, FilesKeepTheirSizeRightsAndContent) {
    AddKey("F1");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(Text("F1"), &dev), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev, Text("DEFAULT_APP"), &app), SAR_OK);

    ULONG size = 0;
    ASSERT_EQ(SKF(lib, SKF_EnumFiles)(app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    ASSERT_EQ(SKF(lib, SKF_CreateFile)(app, Text("seal.dat"), 5, 0xFF, 0xFF), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_CreateFile)(app, Text("seal.dat"), 5, 0xFF, 0xFF), SAR_FILE_ALREADY_EXIST);
    EXPECT_EQ(SKF(lib, SKF_CreateFile)(app, Text("a-name-much-longer-than-the-31-limit"), 5, 0xFF, 0xFF),
              SAR_NAMELENERR);
    EXPECT_EQ(SKF(lib, SKF_WriteFile)(app, Text("seal.dat"), 0, (BYTE*)"abcdef", 6), SAR_INDATALENERR);
    ASSERT_EQ(SKF(lib, SKF_WriteFile)(app, Text("seal.dat"), 0, (BYTE*)"hello", 5), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_WriteFile)(app, Text("seal.dat"), 4, (BYTE*)"O", 1), SAR_OK);

    FILEATTRIBUTE attr;
    ASSERT_EQ(SKF(lib, SKF_GetFileInfo)(app, Text("seal.dat"), &attr), SAR_OK);
    EXPECT_STREQ(attr.FileName, "seal.dat");
    EXPECT_EQ(attr.FileSize, 5u);
    BYTE buf[16];
    ULONG len = sizeof buf;
    ASSERT_EQ(SKF(lib, SKF_ReadFile)(app, Text("seal.dat"), 0, 5, buf, &len), SAR_OK);
    EXPECT_EQ(std::string((char*)buf, len), "hellO");
    len = sizeof buf;
    ASSERT_EQ(SKF(lib, SKF_ReadFile)(app, Text("seal.dat"), 1, 100, buf, &len), SAR_OK);
    EXPECT_EQ(std::string((char*)buf, len), "ellO");
    len = 2;
    EXPECT_EQ(SKF(lib, SKF_ReadFile)(app, Text("seal.dat"), 0, 5, buf, &len), SAR_BUFFER_TOO_SMALL);

    // A file only the user may write.
    ASSERT_EQ(SKF(lib, SKF_CreateFile)(app, Text("private"), 3, SECURE_USER_ACCOUNT, SECURE_USER_ACCOUNT), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_WriteFile)(app, Text("private"), 0, (BYTE*)"xyz", 3), SAR_USER_NOT_LOGIN);
    len = sizeof buf;
    EXPECT_EQ(SKF(lib, SKF_ReadFile)(app, Text("private"), 0, 3, buf, &len), SAR_USER_NOT_LOGIN);
    ULONG retry;
    ASSERT_EQ(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, Text("12345678"), &retry), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_WriteFile)(app, Text("private"), 0, (BYTE*)"xyz", 3), SAR_OK);

    char list[64];
    size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumFiles)(app, list, &size), SAR_OK);
    EXPECT_EQ(size, sizeof("seal.dat") + sizeof("private") + 1);
    EXPECT_STREQ(list, "seal.dat");
    EXPECT_STREQ(list + 9, "private");
    ASSERT_EQ(SKF(lib, SKF_DeleteFile)(app, Text("seal.dat")), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_GetFileInfo)(app, Text("seal.dat"), &attr), SAR_FILE_NOT_EXIST);
    EXPECT_EQ(SKF(lib, SKF_DeleteFile)(app, Text("seal.dat")), SAR_FILE_NOT_EXIST);
}

TEST_F(SoftkeyTest, InjectedFaultsFailTheNamedCallsAFixedNumberOfTimes) {
    AddKey("X1");
    SkfLibrary& lib = Lib();
    softkey::AddFault(*m_store, {"X1", "SKF_ConnectDev", SAR_FAIL, 1, "", ""});
    DEVHANDLE dev;
    EXPECT_EQ(SKF(lib, SKF_ConnectDev)(Text("X1"), &dev), static_cast<ULONG>(SAR_FAIL));
    HAPPLICATION app;
    OpenLoggedIn(lib, "X1", dev, app);  // the fault was used up

    HCONTAINER good, bad;
    ASSERT_EQ(SKF(lib, SKF_CreateContainer)(app, Text("good"), &good), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_CreateContainer)(app, Text("bad"), &bad), SAR_OK);
    softkey::AddFault(*m_store, {"X1", "SKF_OpenContainer", SAR_FAIL, 3, "bad", ""});
    softkey::AddFault(*m_store, {"X1", "SKF_ECCSignData", 0x0A10000F, 1, "", ""});
    HCONTAINER h;
    EXPECT_EQ(SKF(lib, SKF_OpenContainer)(app, Text("good"), &h), SAR_OK);
    EXPECT_EQ(SKF(lib, SKF_OpenContainer)(app, Text("bad"), &h), static_cast<ULONG>(SAR_FAIL));
    EXPECT_EQ(softkey::ListFaults(*m_store).size(), 2u);

    ECCPUBLICKEYBLOB pub;
    ASSERT_EQ(SKF(lib, SKF_GenECCKeyPair)(good, SGD_SM2_1, &pub), SAR_OK);
    BYTE digest[32] = {7};
    ECCSIGNATUREBLOB sig;
    EXPECT_EQ(SKF(lib, SKF_ECCSignData)(good, digest, 32, &sig), 0x0A10000Fu);
    EXPECT_EQ(SKF(lib, SKF_ECCSignData)(good, digest, 32, &sig), SAR_OK);

    // Faults of one key never touch another.
    AddKey("X2");
    softkey::AddFault(*m_store, {"X2", "SKF_EnumDev", SAR_FAIL, 1, "", ""});
    ULONG size = 0;
    EXPECT_EQ(SKF(lib, SKF_EnumDev)(TRUE, nullptr, &size), static_cast<ULONG>(SAR_FAIL));
    EXPECT_EQ(SKF(lib, SKF_EnumDev)(TRUE, nullptr, &size), SAR_OK);
    softkey::ClearFaults(*m_store, "X1");
    EXPECT_EQ(SKF(lib, SKF_OpenContainer)(app, Text("bad"), &h), SAR_OK);
}

TEST_F(SoftkeyTest, QuirksMisbehaveOnceWithoutFailing) {
    AddKey("Q1");
    SkfLibrary& lib = Lib();
    DEVHANDLE dev;
    HAPPLICATION app;
    OpenLoggedIn(lib, "Q1", dev, app);
    for (const char* name : {"ab", "c"}) ASSERT_EQ(SKF(lib, SKF_CreateFile)(app, Text(name), 1, 0xFF, 0xFF), SAR_OK);
    softkey::AddFault(*m_store, {"Q1", "SKF_EnumFiles", 0, 1, "", "unterminated"});
    EXPECT_EQ(softkey::TakeFault(*m_store, "Q1", "SKF_EnumFiles", ""), 0u);  // a quirk is no failure
    char list[16];
    std::memset(list, 'x', sizeof list);
    ULONG size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumFiles)(app, list, &size), SAR_OK);
    EXPECT_EQ(std::string(list, size), std::string("ab\0c", 4));
    EXPECT_EQ(list[4], 'x');
    size = sizeof list;
    ASSERT_EQ(SKF(lib, SKF_EnumFiles)(app, list, &size), SAR_OK);  // used up: the list as it should be
    EXPECT_EQ(std::string(list, size), std::string("ab\0c\0\0", 6));
    EXPECT_EQ(softkey::TakeQuirk(*m_store, "Q1", "SKF_EnumFiles", ""), "");
}

TEST_F(SoftkeyTest, UnsupportedFunctionsSaySo) {
    SkfLibrary& lib = Lib();
    EXPECT_EQ(SKF(lib, SKF_Transmit)(nullptr, nullptr, 0, nullptr, nullptr), SAR_NOTSUPPORTYETERR);
    AddKey("UNS1");
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(const_cast<char*>("UNS1"), &dev), SAR_OK);
    BYTE raw[16] = {};
    HANDLE key;
    EXPECT_EQ(SKF(lib, SKF_SetSymmKey)(dev, raw, SGD_SM1_ECB, &key), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(SKF(lib, SKF_SetSymmKey)(dev, raw, SGD_SSF33_ECB, &key), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(SKF(lib, SKF_DisConnectDev)(dev), SAR_OK);
    ULONG size;
    EXPECT_EQ(SKF(lib, SKF_EnumApplication)(reinterpret_cast<DEVHANDLE>(0x1234), nullptr, &size),
              SAR_INVALIDHANDLEERR);
}

}  // namespace
