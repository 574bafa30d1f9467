// Seals handed out by the vendor seal libraries, played by the software key's seal libraries.
#include <gtest/gtest.h>

#include "api/encodings.h"
#include "seal_rig.h"
#include "tessal/devices.h"
#include "tessal/seals.h"

namespace {

std::string B64(const std::string& bytes) {
    return Base64Encode(ByteArray(bytes.data(), static_cast<int>(bytes.size())));
}

// True when the log holds `lines` in this order.
bool InOrder(const std::string& log, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const std::string& line : lines) {
        at = log.find(line, at);
        if (at == std::string::npos) return false;
        at += line.size();
    }
    return true;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

struct ReadSealDataLibrary {
    const char* skfLibrary;
    const char* vpid;
    const char* sealLibrary;
    const char* form;  // as the log names it
};

const ReadSealDataLibrary kGGZY{"SKFAPI20045.dll", "5448&0004", "SNCA_GetSeal180514.dll", "GGZY"};
const ReadSealDataLibrary kGZ{"GZCA_WT.dll", "3A59&4458", "SEAL_GZCA_KGseal.dll", "GZ"};
const ReadSealDataLibrary kHNXA{"SKF20060.dll", "5448&0003", "XS_GetSealInfo.dll", "HNXA"};

class ReadSealDataTest : public SealRigTest {
protected:
    void AddKeyWithLibrary(const ReadSealDataLibrary& lib) {
        AddVendorKey("V1", lib.vpid, lib.skfLibrary);
        InstallSealLibrary(lib.sealLibrary, lib.skfLibrary);
    }
};

TEST_F(ReadSealDataTest, EachSealBecomesARecordOfFortyTwoSquareAndTheLaterOfTwoNamesStays) {
    for (const ReadSealDataLibrary* lib : {&kGGZY, &kGZ}) {
        SCOPED_TRACE(lib->form);
        size_t mark = LogText().size();
        AddKeyWithLibrary(*lib);
        AddSeal("V1", "A&B", "first", "--time '2024-01-02 03:04:05'");
        AddSeal("V1", "C", "second");
        AddSeal("V1", "A&B", "third", "--time later");
        InspectableKey key(lib->skfLibrary);
        ASSERT_TRUE(key.IsOpened());
        EXPECT_EQ(key.RecordCount(), 2u);
        const SealRecord* ab = key.Record("A&B");
        ASSERT_NE(ab, nullptr);
        EXPECT_EQ(ab->data, B64("third"));
        EXPECT_EQ(ab->time, "later");
        EXPECT_EQ(ab->width, 42);
        EXPECT_EQ(ab->height, 42);
        std::string form = lib->form;
        std::string log = LogText().substr(mark);
        EXPECT_TRUE(InOrder(
            log, {"start ReadGGZYSealImg", "start readHCSealImg", "start read" + form + "SealData",
                  "read" + form + "SealData sealinfo data:", "start parseGGZYXML",
                  "SealData Parse Success", "XMLdata get sealname", "XMLdata get sealdata",
                  "XMLdata get sealtime", "end parseGGZYXML"}));
        EXPECT_EQ(Occurrences(log, "end parseGGZYXML"), 3u);
        EXPECT_EQ(Occurrences(log, "LoadANCALibrary dll failed"),
                  0u);  // the seal library is loaded
        Softkey("delete V1");
    }
}

TEST_F(ReadSealDataTest, ReadingStopsAtTheFirstEmptyTextKeepingEarlierSeals) {
    AddKeyWithLibrary(kGGZY);
    AddSeal("V1", "A", "a");
    AddSeal("V1", "B", "b");
    AddSeal("V1", "C", "c");
    Softkey("fault V1 ReadSealData 1 --arg B");
    InspectableKey key(kGGZY.skfLibrary);
    EXPECT_EQ(key.RecordCount(), 1u);
    EXPECT_NE(key.Record("A"), nullptr);
    EXPECT_EQ(LogCount("readGGZYSealData return empty"), 1u);
    EXPECT_EQ(LogCount("readGGZYSealData sealinfo data:"), 2u);
}

TEST_F(ReadSealDataTest, SealsWithoutDataOrWithoutTheirDescriptionMakeNoRecord) {
    AddKeyWithLibrary(kGZ);
    AddSeal("V1", "Empty", "");
    AddSeal("V1", "Kept", " spaced ");
    InspectableKey key(kGZ.skfLibrary);
    EXPECT_EQ(key.RecordCount(), 1u);
    ASSERT_NE(key.Record("Kept"), nullptr);
    EXPECT_EQ(key.Record("Kept")->data, B64(" spaced "));
    EXPECT_EQ(LogCount("parseGGZYXML error"), 1u);  // the empty seal's data element has no text

    std::string name = "n", data = "d", time = "t";
    const char*
        broken
            [] =
                {
                    "<seal><sealinfo><sealname>x</sealname>",  // not well formed
                    "<seal><other/></seal>",                   // no sealinfo
                    "<seal><sealinfo><sealname>x</sealname><sealdata>y</sealdata></sealinfo></"
                    "seal>",  // no sealtime
                    "<seal><sealinfo><sealname/><sealdata>y</sealdata><sealtime>z</sealtime></"
                    "sealinfo></seal>",
                    "",
                };
    for (const char* xml : broken) {
        EXPECT_FALSE(key.parseGGZYXML(xml, name, data, time)) << xml;
        EXPECT_EQ(name + data + time, "ndt") << xml;
    }
    ASSERT_TRUE(key.parseGGZYXML(
        "<r><sealinfo><sealname> a &amp; b </sealname><sealdata>\n d \n</sealdata>"
        "<sealtime>&lt;t&gt;</sealtime></sealinfo><sealinfo><sealname>2nd</sealname>"
        "</sealinfo></r>",
        name, data, time));
    EXPECT_EQ(name, " a & b ");
    EXPECT_EQ(data, "\n d \n");
    EXPECT_EQ(time, "<t>");
}

TEST_F(ReadSealDataTest, TheHNXAFormGivesOneRecordAndRefusesLengthsPastItsBuffer) {
    AddKeyWithLibrary(kHNXA);
    AddSeal("V1", "One", "first");
    AddSeal("V1", "Two", "second");
    {
        InspectableKey key(kHNXA.skfLibrary);
        EXPECT_EQ(key.RecordCount(), 1u);
        ASSERT_NE(key.Record("One"), nullptr);
        EXPECT_EQ(key.Record("One")->width, 42);
        EXPECT_TRUE(InOrder(LogText(),
                            {"start readHCSealImg", "start readHNXASealData", "end parseGGZYXML"}));
    }
    // A seal whose description needs more than the buffer: the library reports the full length.
    Softkey("delete V1");
    AddKey("V1", kHNXA.vpid, std::string("--drivers ") + kHNXA.skfLibrary);
    Softkey("container create V1 C1 sm2");
    AddSeal("V1", "Big", std::string(80000, 'x'));
    InspectableKey big(kHNXA.skfLibrary);
    EXPECT_TRUE(big.IsOpened());
    EXPECT_EQ(big.RecordCount(), 0u);
    EXPECT_EQ(LogCount("readHNXASealData return 0"), 1u);
}

TEST_F(ReadSealDataTest, MissingLibrariesAndAbsentKeysLeaveTheKeyUsable) {
    AddVendorKey("V1", kGGZY.vpid, kGGZY.skfLibrary);
    AddSeal("V1", "A", "a");
    {
        InspectableKey key(kGGZY.skfLibrary);  // no seal library installed
        EXPECT_TRUE(key.IsOpened());
        EXPECT_EQ(key.RecordCount(), 0u);
        EXPECT_EQ(LogCount("isUkeyIn  or getSealCount is nullptr"), 1u);
    }
    InstallSealLibrary(kGGZY.sealLibrary, kGGZY.skfLibrary);
    Softkey("fault V1 IsUKIn 7");
    {
        InspectableKey key(kGGZY.skfLibrary);
        EXPECT_TRUE(key.IsOpened());
        EXPECT_EQ(LogCount("isUkeyIn return:7"), 1u);
    }
    Softkey("fault V1 GetSealCount 1");
    {
        InspectableKey key(kGGZY.skfLibrary);
        EXPECT_EQ(LogCount("getSealCount return 0"), 1u);
    }
    EXPECT_EQ(ZYKGetUkeyStampImgNames(), "A");
}

class OesTest : public SealRigTest {
protected:
    void SetUp() override {
        SealRigTest::SetUp();
        AddVendorKey("H1", "1677&0101", "SKF_AHAPP.dll");
        InstallSealLibrary("ahca_oes.dll", "SKF_AHAPP.dll");
    }
};

TEST_F(OesTest, SealsComeWithTheImageSizeTheLibraryGives) {
    AddSeal("H1", "Company", PngBytes(64, 32, "pixels"), "--form oes");
    AddSeal("H1", "Person", PngBytes(20, 10), "--form oes");
    AddSeal("H1", "NotOes", "xml seal");
    {
        InspectableKey key("SKF_AHAPP.dll");
        const SealRecord* company = key.Record("Company");
        ASSERT_NE(company, nullptr);
        EXPECT_EQ(company->data, B64(PngBytes(64, 32, "pixels")));
        EXPECT_EQ(company->width, 64);
        EXPECT_EQ(company->height, 32);
        EXPECT_EQ(LogCount("LoadANCALibrary dll failed"), 0u);
    }
    std::string names = ZYKGetUkeyStampImgNames();
    EXPECT_TRUE(names == "Company;Person" || names == "Person;Company") << names;
}

TEST_F(OesTest, AFailedListLeavesTheMessageAndFailedSealsAreSkipped) {
    AddSeal("H1", "Good", PngBytes(1, 1), "--form oes");
    AddSeal("H1", "Empty", "", "--form oes");
    AddSeal("H1", "Long", PngBytes(2, 2), "--form oes");
    AddSeal("H1", "Broken", PngBytes(3, 3), "--form oes");
    Softkey("fault H1 OES_GetSealImage overlong --arg Long");
    Softkey("fault H1 OES_GetSeal 9 --arg Broken");
    {
        InspectableKey key("SKF_AHAPP.dll");
        EXPECT_EQ(key.RecordCount(), 1u);
        EXPECT_NE(key.Record("Good"), nullptr);
        EXPECT_EQ(LogCount("oes_getSealImage1 fail,error is:0"), 1u);
        EXPECT_EQ(LogCount("oes_getSealImage2 fail,error is:0"), 1u);
        EXPECT_EQ(LogCount("oes_getSeal fail,error is:9"), 1u);
    }
    Softkey("fault H1 OES_GetSealList 0xFFFFFFFB");
    ZYKGetDeviceIds();  // the key manager opens the key
    EXPECT_EQ(ZYKGetLastError(), "读取安徽CA印章失败");
    EXPECT_EQ(LogCount("oes_getSealList fail,error is:-5"), 1u);
    std::string id;
    EXPECT_TRUE(ZYKGetCurrentDeviceId(id));  // the key opened all the same
    EXPECT_EQ(id, "H1");
}

TEST_F(OesTest, AListFillingTheBufferWithoutItsEndIsAFailedList) {
    // Identifiers of 127 bytes and 127 bytes, each with its NUL: exactly 256 bytes, no empty one.
    AddSeal("H1", std::string(127, 'a'), PngBytes(1, 1), "--form oes");
    AddSeal("H1", std::string(127, 'b'), PngBytes(1, 1), "--form oes");
    InspectableKey key("SKF_AHAPP.dll");
    EXPECT_TRUE(key.IsOpened());
    EXPECT_EQ(key.RecordCount(), 0u);
    EXPECT_EQ(LogCount("oes_getSealList fail,error is:0"), 1u);
    EXPECT_EQ(ZYKGetLastError(), "读取安徽CA印章失败");
}

}  // namespace
