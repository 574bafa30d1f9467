// Formats, provider order, request ids, failure lines, time limits and argument quoting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <unistd.h>

#include <fstream>
#include <regex>

#include "ooxml_sheets.h"
#include "providers.h"
#include "supervision_text.h"

using namespace parlux;

namespace {

using Order = std::vector<Provider>;

TEST(Formats, ByExtensionOfTheLastComponent) {
    EXPECT_TRUE(detectFormat("/d/REPORT.DOCX").supported);
    EXPECT_EQ(detectFormat("/d/REPORT.DOCX").kind, DocumentKind::WordDocument);
    EXPECT_EQ(detectFormat("/d/book.Xlt").kind, DocumentKind::Workbook);
    EXPECT_TRUE(detectFormat("a.rtf").supported);
    EXPECT_TRUE(detectFormat("/x/sheet.et").wpsOnly);
    EXPECT_EQ(detectFormat("/x/sheet.ett").kind, DocumentKind::Workbook);
    EXPECT_TRUE(detectFormat("/x/t.wpt").wpsOnly);
    EXPECT_FALSE(detectFormat("/d/notes.txt").supported);
    EXPECT_FALSE(detectFormat("/d/.docx").supported);         // a leading dot is no extension
    EXPECT_FALSE(detectFormat("/d/report.").supported);
    EXPECT_FALSE(detectFormat("/d.docx/readme").supported);   // only the last component counts
    EXPECT_TRUE(detectFormat("/d/r.docx:stream").supported);  // from ":" on is ignored
    EXPECT_TRUE(detectFormat("/d/a\\.rtf").supported);         // a backslash is part of a Linux name
    EXPECT_FALSE(detectFormat("/d/report.docx/").supported);   // a trailing "/" leaves an empty name
}

TEST(Formats, ProviderOrder) {
    FormatInfo word = detectFormat("a.docx"), wps = detectFormat("a.wps"), none = detectFormat("a.txt");
    EXPECT_EQ(orderProviders(word, ""), (Order{Provider::Microsoft, Provider::Wps}));
    EXPECT_EQ(orderProviders(word, "ms"), (Order{Provider::Microsoft}));
    EXPECT_EQ(orderProviders(word, "wps"), (Order{Provider::Wps}));
    EXPECT_EQ(orderProviders(wps, ""), (Order{Provider::Wps}));
    EXPECT_TRUE(orderProviders(wps, "ms").empty());
    EXPECT_TRUE(orderProviders(none, "").empty());
    EXPECT_STREQ(progId(Provider::Wps, DocumentKind::Workbook), "KET.Application");
    EXPECT_STREQ(imageName(Provider::Microsoft, DocumentKind::WordDocument), "winword.exe");
}

TEST(Requests, IdsAndFailureLines) {
    std::regex guid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
    EXPECT_TRUE(std::regex_match(newRequestId(), guid));
    EXPECT_NE(newRequestId(), newRequestId());
    ConversionResult r = NewResult();
    r.code = kTimeout;
    r.stage = 7;
    r.hr = static_cast<int32_t>(0x80070102);
    EXPECT_EQ(failureLine(r), "Parlux failed: timeout (10), stage=7, HRESULT=0x80070102\n");
    SetMessage(r.message, "Conversion exceeded the configured timeout.");
    EXPECT_EQ(failureLine(r),
              "Parlux failed: timeout (10), stage=7, HRESULT=0x80070102, Conversion exceeded the configured timeout.\n");
    r.code = kInvalidArguments;
    EXPECT_EQ(failureLine(r).substr(0, 38), "Parlux failed: invalid_arguments (-1),");
}

TEST(Timeouts, OnlyWholeNumbersInRange) {
    for (const char* bad : {"999", "3600001", "1e4", "5000 ", "", "abc", "-", "+", "99999999999999999999"})
        EXPECT_EQ(parseTimeout(bad), 300000) << bad;
    EXPECT_EQ(parseTimeout(nullptr), 300000);
    EXPECT_EQ(parseTimeout("1000"), 1000);
    EXPECT_EQ(parseTimeout("3600000"), 3600000);
    EXPECT_EQ(parseTimeout(" +2500"), 2500);
    EXPECT_EQ(parseTimeout(std::string(64, '1').c_str()), 300000);
    setenv("PARLUX_TIMEOUT_MS", "4000", 1);
    EXPECT_EQ(readTimeout(), 4000);
    unsetenv("PARLUX_TIMEOUT_MS");
    EXPECT_EQ(readTimeout(), 300000);
}

TEST(Quoting, ArgumentsComeBackUnchanged) {
    EXPECT_EQ(quoteArgument("plain"), "\"plain\"");
    EXPECT_EQ(quoteArgument("C:\\dir\\"), "\"C:\\dir\\\\\"");
    EXPECT_EQ(quoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(quoteArgument(""), "\"\"");
    std::vector<std::string> args = {"/opt/parlux", "--parlux-worker", "ms", "1", "/数据/报 告.docx", "C:\\dir\\",
                                     "a\\\"b", "", "tail\\\\"};
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + quoteArgument(a);
    EXPECT_EQ(splitQuotedArguments(line), args);
}

}  // namespace

#include "class_registry.h"
#include "worker.h"

namespace {

TEST(ClassRegistry, ResolvesRegisteredProgIdsOnly) {
    ClassRegistry registry = ClassRegistry::FromText(
        "# test classes\n"
        "Word.Application = fake  winword.exe\n"
        "  KET.Application=fake et.exe   # WPS spreadsheet\n"
        "broken line\n"
        "Excel.Application = fake\n"
        "Bad.Application = a b c\n");
    parlux::ClassEntry entry;
    ASSERT_EQ(registry.Resolve("Word.Application", entry), 0);
    EXPECT_EQ(entry.backend, "fake");
    EXPECT_EQ(entry.imageName, "winword.exe");
    ASSERT_EQ(registry.Resolve("KET.Application", entry), 0);
    EXPECT_EQ(entry.imageName, "et.exe");
    for (const char* missing : {"Excel.Application", "Bad.Application", "word.application", "KWPS.Application"})
        EXPECT_EQ(registry.Resolve(missing, entry), parlux::kRegdbClassNotRegistered) << missing;

    char path[] = "/tmp/parlux-classes-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("PARLUX_CLASSES", path, 1);  // an empty file registers nothing
    EXPECT_EQ(ClassRegistry::Load().Resolve("Word.Application", entry), parlux::kRegdbClassNotRegistered);
    unsetenv("PARLUX_CLASSES");
    unlink(path);
}

// A kept office serves both kinds only when one process of one back end that opens both serves
// the provider's two ProgIDs; the other provider's office stays its own.
TEST(ClassRegistry, OneOfficeServesBothKindsOnlyWhenOneProcessServesBothProgIds) {
    char path[] = "/tmp/parlux-classes-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("PARLUX_CLASSES", path, 1);
    auto registered = [&](const std::string& text) {
        std::ofstream(path, std::ios::trunc) << text;
        return parlux::oneOfficeForBothKinds(parlux::Provider::Microsoft);
    };
    EXPECT_TRUE(registered("Word.Application = libreoffice soffice.bin\nExcel.Application = libreoffice SOFFICE.BIN\n"));
    EXPECT_EQ(parlux::officeKey(parlux::Provider::Microsoft, parlux::DocumentKind::WordDocument),
              parlux::officeKey(parlux::Provider::Microsoft, parlux::DocumentKind::Workbook));
    EXPECT_EQ(parlux::officeKey(parlux::Provider::Wps, parlux::DocumentKind::WordDocument), "KWPS.Application");
    EXPECT_NE(parlux::officeKey(parlux::Provider::Wps, parlux::DocumentKind::WordDocument),
              parlux::officeKey(parlux::Provider::Microsoft, parlux::DocumentKind::WordDocument));
    EXPECT_TRUE(registered("Word.Application = fake office.exe\nExcel.Application = fake office.exe\n"));
    EXPECT_FALSE(registered("Word.Application = fake winword.exe\nExcel.Application = fake excel.exe\n"));
    EXPECT_EQ(parlux::officeKey(parlux::Provider::Microsoft, parlux::DocumentKind::Workbook), "Excel.Application");
    EXPECT_FALSE(registered("Word.Application = fake office.exe\nExcel.Application = libreoffice office.exe\n"));
    EXPECT_FALSE(registered("Word.Application = remote office.exe\nExcel.Application = remote office.exe\n"));
    EXPECT_FALSE(registered("Word.Application = libreoffice soffice.bin\n"));
    unsetenv("PARLUX_CLASSES");
    unlink(path);
}

}  // namespace

// The parts of the corpus's xlsx-chartsheet.xlsx, and a strict-namespace variant.
TEST(ChartSheets, FlagsFollowTheWorkbookOrder) {
    const std::string workbook =
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
        R"(<sheet name="data" sheetId="1" r:id="rId1"/><sheet name="chart" sheetId="4" r:id="rId2"/>)"
        R"(<sheet name="moredata" sheetId="2" r:id="rId3"/></sheets></workbook>)";
    const std::string rels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet" Target="chartsheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(</Relationships>)";
    EXPECT_EQ(chartSheetFlags(workbook, rels), (std::vector<bool>{false, true, false}));

    std::string prefixed = workbook;
    for (auto [from, to] : {std::pair<std::string, std::string>{"<workbook ", "<x:workbook xmlns:x=\"s\" "},
                            {"<sheets>", "<x:sheets>"}, {"</sheets></workbook>", "</x:sheets></x:workbook>"},
                            {"r:id", "rel:id"}, {"xmlns:r=", "xmlns:rel="}}) {
        for (size_t at = prefixed.find(from); at != std::string::npos; at = prefixed.find(from, at + to.size()))
            prefixed.replace(at, from.size(), to);
    }
    for (size_t at = prefixed.find("<sheet "); at != std::string::npos; at = prefixed.find("<sheet ", at))
        prefixed.replace(at, 7, "<x:sheet ");
    EXPECT_EQ(chartSheetFlags(prefixed, rels), (std::vector<bool>{false, true, false}));
    EXPECT_TRUE(chartSheetFlags("<workbook", rels).empty());
    EXPECT_EQ(chartSheetFlags(workbook, "<Relationships/>"), (std::vector<bool>{false, false, false}));
}
