// Seal images kept as files on the key, and the seal exports.
#include <gtest/gtest.h>

#include <functional>

#include "api/encodings.h"
#include "seal_rig.h"
#include "tessal/devices.h"
#include "tessal/seals.h"

namespace {

std::string B64(const std::string& bytes) {
    return Base64Encode(ByteArray(bytes.data(), static_cast<int>(bytes.size())));
}

TEST_F(SealRigTest, FilesOnAnOwnKeyBecomeRecordsSizedByTheirNames) {
    AddOwnKey("K0");
    const std::string image("\x89PNG seal\0bytes", 15);
    PutFile("K0", "seal_120_80", image);
    PutFile("K0", "CacheFile", "cache");
    PutFile("K0", "a_b_c_d", "abcd");
    PutFile("K0", "VUVISignStamp2", "two");
    PutFile("K0", "ESEAL", "e");
    PutFile("K0", "a_x_9", "not a size");
    InspectableKey key("EsZYKEBankCspV2.dll");
    ASSERT_TRUE(key.IsOpened());
    EXPECT_EQ(key.RecordCount(), 5u);
    EXPECT_EQ(key.Record("CacheFile"), nullptr);
    const SealRecord* seal = key.Record("seal_120_80");
    ASSERT_NE(seal, nullptr);
    EXPECT_EQ(seal->data, B64(image));
    EXPECT_EQ(seal->width, 120);
    EXPECT_EQ(seal->height, 80);
    EXPECT_EQ(seal->time, "");
    EXPECT_EQ(key.Record("VUVISignStamp2")->width, 20);
    EXPECT_EQ(key.Record("ESEAL")->height, 45);
    EXPECT_EQ(key.Record("a_b_c_d")->width, 0);
    EXPECT_EQ(key.Record("a_x_9")->width, 0);
    EXPECT_NE(LogText().find("fileName isseal_120_80and file size is:15"), std::string::npos);
    EXPECT_NE(LogText().find("start ReadSKFFile"), std::string::npos);
    EXPECT_EQ(LogCount("LoadANCALibrary dll failed"), 1u);  // no seal library for this key
}

TEST_F(SealRigTest, NamesAndLookupsThroughTheExports) {
    AddOwnKey("K0");
    PutFile("K0", "A", "first");
    PutFile("K0", "\xD3\xA1", "gbk named");  // "印" in the key's code page
    std::string names = ZYKGetUkeyStampImgNames();
    EXPECT_TRUE(names == "A;印" || names == "印;A") << names;
    std::string image = "untouched";
    std::string name = "印";
    ASSERT_TRUE(ZYKGetImgWithName(name, image));
    EXPECT_EQ(image, B64("gbk named"));
    name = "nobody";
    EXPECT_TRUE(ZYKGetImgWithName(name, image));
    EXPECT_EQ(image, "");
}

TEST_F(SealRigTest, AKeyWithoutSealsOrKeyGivesEmptyNames) {
    EXPECT_EQ(ZYKGetUkeyStampImgNames(), "");
    EXPECT_EQ(ZYKGetLastError(), "无法识别到UKey");
    std::string name = "A", image;
    EXPECT_FALSE(ZYKGetImgWithName(name, image));
}

TEST_F(SealRigTest, AnOesKeyWithoutItsSealLibraryOpensWithTheMessage) {
    AddVendorKey("H1", "1677&0101", "SKF_AHAPP.dll");
    PutFile("H1", "seal_1_1", "files of other vendors' keys are not read");
    InspectableKey key("SKF_AHAPP.dll");
    EXPECT_TRUE(key.IsOpened());
    EXPECT_EQ(key.RecordCount(), 0u);
    EXPECT_EQ(ZYKGetLastError(), "读取安徽CA印章失败");
    EXPECT_EQ(LogCount("LoadANCALibrary dll failed"), 1u);
}

TEST_F(SealRigTest, StampImageIsTheLastFileWithTheLastSizeFound) {
    AddOwnKey("K0");
    int width = -5, height = -6;
    std::string info = "info", name = "name", image = "image";
    ASSERT_TRUE(ZYKGetUkeyStampImg(width, height, info, name, image));
    EXPECT_EQ(width, -5);  // no files: every output left as it was
    EXPECT_EQ(height, -6);
    EXPECT_EQ(info, "info");
    EXPECT_EQ(name, "");  // the export's own name text, empty
    PutFile("K0", "x_10_20", "first");
    PutFile("K0", "logo", std::string("lo\0go", 5));
    ASSERT_TRUE(ZYKGetUkeyStampImg(width, height, info, name, image));
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 20);
    EXPECT_EQ(name, "logo");
    EXPECT_EQ(info, "");
    EXPECT_EQ(image, B64(std::string("lo\0go", 5)));
    Softkey("fault K0 SKF_ReadFile 0x0A000001 --arg logo");
    EXPECT_FALSE(ZYKGetUkeyStampImg(width, height, info, name, image));
    EXPECT_EQ(ZYKGetLastError(), "读文件失败");
}

TEST_F(SealRigTest, OneVendorsStampImageComesAsRawBytes) {
    AddVendorKey("S1", "096E&0309", "SxcaCsp11_3000GM.dll");
    const std::string raw("\x01\x00\xFFraw", 6);
    PutFile("S1", "\xD3\xA1_3_4", raw);
    int width = 0, height = 0;
    std::string info, name, image;
    ASSERT_TRUE(ZYKGetUkeyStampImg(width, height, info, name, image)) << ZYKGetLastError();
    EXPECT_EQ(image, raw);
    EXPECT_EQ(name, "印_3_4");
    EXPECT_EQ(width, 3);
}

TEST_F(SealRigTest, GmSealFile) {
    AddOwnKey("K0");
    std::string seal = "kept";
    EXPECT_FALSE(ZYKGetGMSeal(seal));
    EXPECT_EQ(ZYKGetLastError(), "获取文件信息失败");
    EXPECT_EQ(seal, "kept");
    PutFile("K0", "seal.dat", std::string("GM\0seal", 7));
    ASSERT_TRUE(ZYKGetGMSeal(seal));
    EXPECT_EQ(seal, B64(std::string("GM\0seal", 7)));
}

TEST_F(SealRigTest, ImportSealNeedsThePinAndReplacesTheFile) {
    AddOwnKey("K0");
    PutFile("K0", "stamp_8_8", "old image");
    EXPECT_FALSE(ZYKImportSeal(B64("new image"), "fresh"));
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    EXPECT_EQ(FileList("K0"), "stamp_8_8 9\n");
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    ASSERT_TRUE(ZYKImportSeal(B64("new image!"), "stamp_8_8"));
    ASSERT_TRUE(ZYKImportSeal(B64("fresh"), "fresh"));
    EXPECT_EQ(FileList("K0"), "stamp_8_8 10\nfresh 5\n");
    std::string name = "stamp_8_8", image;
    ASSERT_TRUE(ZYKGetImgWithName(name, image));
    EXPECT_EQ(image, B64("old image"));  // the map changes only when the key is opened again
    EXPECT_EQ(ZYKGetUkeyStampImgNames(), "stamp_8_8");
}

TEST_F(SealRigTest, ImportedSealsShowWhenTheKeyIsOpenedAgain) {
    AddOwnKey("K0");
    PutFile("K0", "stamp_8_8", "old image");
    {
        InspectableKey key("EsZYKEBankCspV2.dll");
        int retry = 0;
        ASSERT_EQ(key.VerifyPin("12345678", retry).ErrorCode(), 0);
        ByteArray image("new", 3);
        ASSERT_EQ(key.ImportSeal(image, "stamp_8_8").ErrorCode(), 0);
        EXPECT_EQ(key.Record("stamp_8_8")->data, B64("old image"));
    }
    InspectableKey reopened("EsZYKEBankCspV2.dll");
    ASSERT_NE(reopened.Record("stamp_8_8"), nullptr);
    EXPECT_EQ(reopened.Record("stamp_8_8")->data, B64("new"));
}

TEST_F(SealRigTest, AFailedImportLeavesNoHalfWrittenFile) {
    AddOwnKey("K0");
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    Softkey("fault K0 SKF_WriteFile 0x0A000001");
    EXPECT_FALSE(ZYKImportSeal(B64("image"), "stamp"));
    EXPECT_EQ(ZYKGetLastError(), "写入文件失败");
    EXPECT_EQ(FileList("K0"), "");
    Softkey("fault K0 SKF_CreateFile 0x0A000001");
    EXPECT_FALSE(ZYKImportSeal(B64("image"), "stamp"));
    EXPECT_EQ(FileList("K0"), "");
}

TEST_F(SealRigTest, DeleteAllImagesDeletesEveryFileOfAnOwnKey) {
    AddOwnKey("K0");
    PutFile("K0", "seal.dat", "gm");
    PutFile("K0", "CacheFile", "cache");
    PutFile("K0", "logo", "logo");
    EXPECT_FALSE(ZYKDeleteAllImg());
    EXPECT_EQ(ZYKGetLastError(), "未验证Pin码");
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    Softkey("fault K0 SKF_DeleteFile 0x0A000001 --arg CacheFile");
    EXPECT_FALSE(ZYKDeleteAllImg());
    EXPECT_EQ(ZYKGetLastError(), "删除应用失败");
    EXPECT_EQ(FileList("K0"), "CacheFile 5\nlogo 4\n");  // the first file went, the rest stayed
    ASSERT_TRUE(ZYKDeleteAllImg());
    EXPECT_EQ(FileList("K0"), "");
    EXPECT_TRUE(ZYKGetUkeyStampImgNames().find("logo") != std::string::npos);  // map untouched
}

TEST_F(SealRigTest, DeleteAllImagesRefusesOtherVendorsKeys) {
    AddVendorKey("V1", "1D99&0001", "SKF_APP.dll");
    PutFile("V1", "logo", "logo");
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    EXPECT_FALSE(ZYKDeleteAllImg());
    EXPECT_EQ(ZYKGetLastError(), "UKey不支持此功能");
    EXPECT_EQ(FileList("V1"), "logo 4\n");
    EXPECT_EQ(ZYKGetUkeyStampImgNames(), "");  // other vendors' files are not read as seals
}

TEST_F(SealRigTest, FileListsWithoutTheirEndAreReadToTheLastName) {
    AddOwnKey("K0");
    PutFile("K0", "seal_1_2", "one");
    PutFile("K0", "x_3_4", "two");
    Softkey("fault K0 SKF_EnumFiles unterminated --count 2");
    InspectableKey key("EsZYKEBankCspV2.dll");
    ASSERT_TRUE(key.IsOpened());
    EXPECT_EQ(key.RecordCount(), 2u);
    ASSERT_NE(key.Record("x_3_4"), nullptr);
    EXPECT_EQ(key.Record("x_3_4")->data, B64("two"));
    int width = -1, height = -1;
    ByteArray image;
    std::string name, info;
    EXPECT_EQ(key.GetStampImg(image, width, height, name, info).ErrorCode(), 0);
    EXPECT_EQ(name, "x_3_4");
    EXPECT_EQ(width, 3);
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    Softkey("fault K0 SKF_EnumFiles unterminated");
    EXPECT_TRUE(ZYKDeleteAllImg());
    EXPECT_EQ(FileList("K0"), "");
}

TEST_F(SealRigTest, DeleteAllImagesDeletesListsOfAnyLengthAndReportsAFailedListing) {
    AddOwnKey("K0");
    // 45 names of 24 characters: a list of 1126 bytes.
    for (int i = 10; i < 55; ++i) PutFile("K0", "seal_with_a_long_name_" + std::to_string(i), "x");
    EXPECT_EQ(SplitString(ZYKGetUkeyStampImgNames(), ";").size(), 45u);
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    Softkey("fault K0 SKF_EnumFiles 0x0A000001");
    EXPECT_FALSE(ZYKDeleteAllImg());
    EXPECT_EQ(ZYKGetLastError(), "删除应用失败");
    EXPECT_NE(FileList("K0").find("seal_with_a_long_name_54 1\n"), std::string::npos);
    ASSERT_TRUE(ZYKDeleteAllImg()) << ZYKGetLastError();
    EXPECT_EQ(FileList("K0"), "");
}

TEST_F(SealRigTest, AReplacementThatCannotBeWrittenKeepsTheOldSeal) {
    AddOwnKey("K0");
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    const std::string old(50, 'o');
    PutFile("K0", "stamp_8_8", old);
    Softkey("fault K0 SKF_WriteFile 0x0A000001");
    EXPECT_FALSE(ZYKImportSeal(B64("new"), "stamp_8_8"));
    EXPECT_EQ(ZYKGetLastError(), "写入文件失败");
    EXPECT_EQ(GetFile("K0", "stamp_8_8"), old);
    // An old seal that cannot be read (so not written back) is not deleted.
    Softkey("fault K0 SKF_ReadFile 0x0A000001 --arg stamp_8_8");
    EXPECT_FALSE(ZYKImportSeal(B64("new"), "stamp_8_8"));
    EXPECT_EQ(ZYKGetLastError(), "写入文件失败");
    EXPECT_EQ(GetFile("K0", "stamp_8_8"), old);

    // The key's 4 MiB taken but for 60 bytes beside the old seal's 50.
    PutFile("K0", "filler", std::string((4u << 20) - 110, 'f'));
    EXPECT_FALSE(ZYKImportSeal(B64(std::string(200, 'n')), "stamp_8_8"));  // no room
    EXPECT_EQ(ZYKGetLastError(), "写入文件失败");
    EXPECT_EQ(GetFile("K0", "stamp_8_8"), old);
    // 90 bytes fit only in the room the old seal leaves: it is deleted before the new is made.
    const std::string fits(90, 'n');
    ASSERT_TRUE(ZYKImportSeal(B64(fits), "stamp_8_8")) << ZYKGetLastError();
    EXPECT_EQ(GetFile("K0", "stamp_8_8"), fits);
}

// A driver that reports sizes no key has (0xFFFFFFF0 bytes) gets nothing allocated for them: the
// listing or the file fails as unreadable and nothing on the key is touched.
TEST_F(SealRigTest, SizesNoKeyHasAreReadAsFailuresAndChangeNothing) {
    AddOwnKey("K0");
    PutFile("K0", "seal_1_2", "one");
    PutFile("K0", "stamp_8_8", "old image");
    Softkey("fault K0 SKF_GetFileInfo oversized --arg seal_1_2");
    {
        InspectableKey key("EsZYKEBankCspV2.dll");
        ASSERT_TRUE(key.IsOpened());
        EXPECT_EQ(key.Record("seal_1_2"), nullptr);
        ASSERT_NE(key.Record("stamp_8_8"), nullptr);
        EXPECT_EQ(key.Record("stamp_8_8")->data, B64("old image"));
        ByteArray seal;
        Softkey("fault K0 SKF_GetFileInfo oversized --arg seal.dat");
        PutFile("K0", "seal.dat", "gm");
        EXPECT_NE(key.GetGmSeal(seal).ErrorCode(), 0);
    }
    EXPECT_NE(LogText().find("the key reported 4294967280 bytes for the file seal_1_2"), std::string::npos);
    Softkey("fault K0 SKF_EnumFiles oversized");
    {
        InspectableKey listless("EsZYKEBankCspV2.dll");
        ASSERT_TRUE(listless.IsOpened());
        EXPECT_EQ(listless.RecordCount(), 0u);
    }
    EXPECT_NE(LogText().find("SKF_EnumFiles reported a list of 4294967280 bytes"), std::string::npos);

    // The old seal cannot be read back, so the import must not delete it.
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    Softkey("fault K0 SKF_GetFileInfo oversized --arg stamp_8_8");
    EXPECT_FALSE(ZYKImportSeal(B64("new"), "stamp_8_8"));
    EXPECT_EQ(GetFile("K0", "stamp_8_8"), "old image");

    Softkey("fault K0 SKF_EnumFiles oversized");
    EXPECT_FALSE(ZYKDeleteAllImg());
    EXPECT_EQ(ZYKGetLastError(), "删除应用失败");
    EXPECT_EQ(FileList("K0"), "seal_1_2 3\nstamp_8_8 9\nseal.dat 2\n");
}

// Seal tests that reopen the key through the host: pulled out and plugged in again.
class SealReopenTest : public SealRigTest {
protected:
    void SetUp() override {
        SealRigTest::SetUp();
        std::function<void(int, const std::string&)> callback =
            [this](int event, const std::string& id) { m_events.Record(event, id); };
        ZYKRegister(callback);
    }
    CallbackRecorder m_events;
};

TEST_F(SealReopenTest, SealNamesGoToTheKeyInItsCodePageAndComeBackInUtf8) {
    AddOwnKey("K0");
    ASSERT_TRUE(m_events.WaitFor(1));
    ASSERT_EQ(ZYKVerifyPin("12345678", ""), -1);
    const std::string image = PngBytes(40, 40, "seal");
    ASSERT_TRUE(ZYKImportSeal(B64(image), "公章_40_40")) << ZYKGetLastError();
    ASSERT_TRUE(ZYKImportSeal(B64("finance"), "财务专用章"));
    // Names the code page cannot hold, and text that is not UTF-8, write nothing.
    EXPECT_FALSE(ZYKImportSeal(B64("x"), "公章😀"));
    EXPECT_EQ(ZYKGetLastError(), "写入文件失败");
    EXPECT_FALSE(ZYKImportSeal(B64("x"), "seal\xFF"));
    EXPECT_EQ(FileList("K0"),
              "\xB9\xAB\xD5\xC2_40_40 28\n\xB2\xC6\xCE\xF1\xD7\xA8\xD3\xC3\xD5\xC2 7\n");

    Softkey("unplug K0");
    ASSERT_TRUE(m_events.WaitFor(2));
    Softkey("plug K0");
    ASSERT_TRUE(m_events.WaitFor(3));
    std::string names = ZYKGetUkeyStampImgNames();
    EXPECT_TRUE(names == "公章_40_40;财务专用章" || names == "财务专用章;公章_40_40") << names;
    std::string name = "公章_40_40", found;
    ASSERT_TRUE(ZYKGetImgWithName(name, found));
    EXPECT_EQ(found, B64(image));
    name = "财务专用章";
    ASSERT_TRUE(ZYKGetImgWithName(name, found));
    EXPECT_EQ(found, B64("finance"));
}

}  // namespace
