// The converter's path forms and file checks on Windows (under wine).
#include <windows.h>

#include <gtest/gtest.h>

#include "file_helpers.h"
#include "log.h"
#include "office_rig.h"
#include "providers.h"

namespace {

using namespace parlux;

class PathTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = rig::MakeTempDirectory(); }
    void TearDown() override { rig::RemoveTree(m_dir); }
    std::string m_dir;
};

TEST_F(PathTest, LongFormsAndTheirPrefixes) {
    EXPECT_EQ(toLongPath("\\\\server\\share\\a.docx"), "\\\\?\\UNC\\server\\share\\a.docx");
    EXPECT_EQ(stripLongPathPrefix("\\\\?\\UNC\\server\\share\\a.docx"),
              "\\\\server\\share\\a.docx");
    EXPECT_EQ(toLongPath("\\\\?\\C:\\x\\a.docx"), "\\\\?\\C:\\x\\a.docx");
    EXPECT_EQ(toLongPath("C:\\x\\..\\y\\.\\a.docx"), "\\\\?\\C:\\y\\a.docx");
    EXPECT_TRUE(samePath("C:\\Dir\\Report.DOCX", "c:\\dir\\report.docx"));
    EXPECT_EQ(detectFormat("C:\\a.b\\REPORT.DOCX").kind, DocumentKind::WordDocument);
    EXPECT_FALSE(detectFormat("C:\\dir.docx\\notes").supported)
        << "a backslash separates components";
}

TEST_F(PathTest, OfficeFormKeepsShortPathsAndShortensLongOnes) {
    std::string dir = m_dir + "\\" + std::string(150, 'd');
    ASSERT_LT(dir.size(), 230u);
    ASSERT_TRUE(CreateDirectoryW(rig::Widen(toLongPath(dir)).c_str(), nullptr));
    std::string base = dir + "\\";
    std::string fits = base + std::string(243 - base.size() - 5, 'f') + ".docx";
    ASSERT_EQ(fits.size(), 243u);
    EXPECT_EQ(officePath(fits), fits);
    std::string longer = base + std::string(300 - base.size() - 5, 'g') + ".docx";
    std::string office = officePath(longer);
    // Wine's volumes give 8.3 names; a path they cannot shorten enough has no office form.
    EXPECT_TRUE(office.empty() || office.size() <= 259u) << office;
    EXPECT_NE(office, longer);
}

TEST_F(PathTest, PdfSignatureAndSourceAccess) {
    auto file = [&](const std::string& name, const std::string& bytes) {
        rig::WriteFile(m_dir + "\\" + name, bytes);
        return m_dir + "\\" + name;
    };
    EXPECT_FALSE(isValidPdf(file("empty.pdf", "")));
    EXPECT_FALSE(isValidPdf(file("four.pdf", "%PDF")));
    EXPECT_FALSE(isValidPdf(file("one.pdf", "%PDF1.7")));
    EXPECT_TRUE(isValidPdf(file("good.pdf", "%PDF-1.7\n")));
    EXPECT_EQ(checkSourceAccess(m_dir + "\\none.docx"), kSourceUnavailable);
    EXPECT_EQ(checkSourceAccess(m_dir), kSourceUnavailable);
    std::string held = file("held.docx", "x");
    EXPECT_EQ(checkSourceAccess(held), kSuccess);
    HANDLE writer = CreateFileW(rig::Widen(held).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(checkSourceAccess(held), kSourceBusy) << "open for writing elsewhere";
    CloseHandle(writer);
    EXPECT_FALSE(isEncryptedPackage(held));
}

TEST_F(PathTest, TemporaryOutputIsAnEightThreeNameBesideTheTarget) {
    std::string out;
    int fd = -1;
    ASSERT_TRUE(makeTempOutputPath(m_dir + "\\target.pdf", out, fd));
    std::string name = out.substr(out.find_last_of('\\') + 1);
    EXPECT_EQ(out.substr(0, out.size() - name.size() - 1), m_dir);
    EXPECT_EQ(name.size(), 12u);
    EXPECT_EQ(name.compare(0, 3, "plx"), 0);
    EXPECT_FALSE(rig::FileExists(out)) << "the office creates it";
    EXPECT_FALSE(makeTempOutputPath(m_dir + "\\missing\\target.pdf", out, fd));
}

TEST_F(PathTest, LogLinesAreAppendedAndRotatedAtTwentyMegabytes) {
    std::string log = m_dir + "\\convertLog.txt";
    writeLogTo(log, kInfo, "first line");
    std::string text = rig::ReadFile(log);
    ASSERT_GT(text.size(), 30u);
    EXPECT_EQ(text[0], '[');
    EXPECT_NE(text.find("] INFO  - first line\r\n"), std::string::npos) << text;
    HANDLE file =
        CreateFileW(rig::Widen(log).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = kRotateBytes;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    writeLogTo(log, kWarn, "after rotation");
    EXPECT_TRUE(rig::FileExists(log + ".1"));
    text = rig::ReadFile(log);
    EXPECT_EQ(text.find("first line"), std::string::npos);
    EXPECT_NE(text.find("WARN  - after rotation\r\n"), std::string::npos) << text;
}

}  // namespace
