// Real conversions on LibreOffice, checked with poppler's tools: documents LibreOffice made for
// the tests (OFFICE_FIXTURES_DIR) and real documents of the corpus when it is present.
#include <cstdio>
#include <cstdlib>
#include <set>

#include "converter_run.h"
#include "platform/processes.h"
#include "records.h"
#include "testing/corpus.h"

namespace parlux {
namespace {

using namespace parlux::testing;

std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

int PdfPages(const std::string& pdf) {
    std::string info = Output("pdfinfo '" + pdf + "' 2>/dev/null");
    size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

std::string PdfText(const std::string& pdf) { return Output("pdftotext -layout '" + pdf + "' - 2>/dev/null"); }
std::string FirstPageText(const std::string& pdf) { return Output("pdftotext -l 1 '" + pdf + "' - 2>/dev/null"); }

// Every office process a run reported as its own.
std::vector<pid_t> OfficePids(const std::string& log) {
    std::vector<pid_t> pids;
    for (size_t at = log.find(" owned=true "); at != std::string::npos; at = log.find(" owned=true ", at + 1)) {
        size_t start = log.rfind("pid=", at);
        if (start != std::string::npos) pids.push_back(static_cast<pid_t>(std::atol(log.c_str() + start + 4)));
    }
    return pids;
}

class LibreOfficeTest : public ConverterRun {
protected:
    void SetUp() override {
        ConverterRun::SetUp();
        Register("Word.Application = libreoffice soffice.bin\nExcel.Application = libreoffice soffice.bin\n");
        const char* tmp = std::getenv("TMPDIR");
        m_env = {"XDG_CACHE_HOME=" + std::string(tmp ? tmp : "/tmp") + "/lo-cache"};
    }
    void Corpus(const std::string& name, const std::string& as) {
        WriteAll(Path(as), ReadAll(kit_testing::CorpusDir("office") + "/" + name));
    }
    void Fixture(const std::string& name, const std::string& as) {
        std::string bytes = ReadAll(std::string(OFFICE_FIXTURES_DIR) + "/" + name);
        ASSERT_FALSE(bytes.empty()) << "the office fixtures were not made: " << name;
        WriteAll(Path(as), bytes);
    }
    // Runs all conversions at once; their exit codes in order.
    std::vector<Outcome> ConvertAll(const std::vector<std::pair<std::string, std::string>>& jobs) {
        std::vector<pid_t> pids;
        for (size_t i = 0; i < jobs.size(); ++i)
            pids.push_back(Start({jobs[i].first, jobs[i].second, "ms"}, m_env, "err" + std::to_string(i)));
        std::vector<Outcome> outcomes;
        for (size_t i = 0; i < jobs.size(); ++i) outcomes.push_back(Wait(pids[i], "err" + std::to_string(i)));
        return outcomes;
    }
    // The directory holds exactly these names besides the program, its log and the test files.
    void ExpectOnly(std::set<std::string> names) {
        names.insert({"parlux", "Logs", "classes.conf", "scenario.json", "report.docx"});
        for (size_t i = 0; i < 4; ++i) names.insert("err" + std::to_string(i));
        std::string listing = Output("ls -A '" + m_dir + "'");
        std::istringstream lines(listing);
        for (std::string name; std::getline(lines, name);) EXPECT_TRUE(names.count(name)) << "left behind: " << name;
        for (pid_t pid : OfficePids(Log())) EXPECT_FALSE(platform::ProcessAlive(pid)) << "office still running: " << pid;
    }
    std::vector<std::string> m_env;
};

TEST_F(LibreOfficeTest, MadeDocumentsShowTheFinalTextAndFitOnePageWide) {
    Fixture("tracked.docx", "tracked.docx");
    Fixture("wide.xlsx", "wide.xlsx");
    WriteAll(Path("sample.rtf"), ReadAll(SAMPLE_RTF));
    auto runs = ConvertAll({{"tracked.docx", "tracked.pdf"}, {"wide.xlsx", "wide.pdf"}, {"sample.rtf", "sample.pdf"}});
    for (const Outcome& run : runs) EXPECT_EQ(run.code, kSuccess) << run.err << Log();
    std::string text = PdfText(Path("tracked.pdf"));
    EXPECT_NE(text.find("Kept text."), std::string::npos) << text;
    EXPECT_NE(text.find("Inserted words."), std::string::npos) << text;  // a tracked insertion is shown
    EXPECT_EQ(text.find("Deleted words."), std::string::npos) << text;   // a tracked deletion is not
    // Seven pages wide at full size: fitted, every column is on the first page.
    std::string first = FirstPageText(Path("wide.pdf"));
    EXPECT_NE(first.find("Column 1\n"), std::string::npos) << first;
    EXPECT_NE(first.find("Column 64"), std::string::npos) << first;
    EXPECT_LE(PdfPages(Path("wide.pdf")), 2);
    EXPECT_FALSE(PdfText(Path("sample.pdf")).empty());
    ExpectOnly({"tracked.docx", "tracked.pdf", "wide.xlsx", "wide.pdf", "sample.rtf", "sample.pdf"});
}

TEST_F(LibreOfficeTest, MadePasswordProtectedDocumentsFailWithTheirCode) {
    Fixture("secret.doc", "secret.doc");
    Fixture("secret.xls", "secret.xls");
    WriteAll(Path("random.docx"), std::string("\x8f\x13 not a document \x01\x02\x03 at all \xfe", 30));
    auto runs = ConvertAll({{"secret.doc", "a.pdf"}, {"secret.xls", "b.pdf"}, {"random.docx", "c.pdf"}});
    EXPECT_EQ(runs[0].code, kPasswordProtected) << runs[0].err;
    EXPECT_NE(runs[0].err.find("HRESULT=0x800A1520"), std::string::npos) << runs[0].err;
    EXPECT_EQ(runs[1].code, kPasswordProtected) << runs[1].err;
    EXPECT_EQ(runs[2].code, kOpenFailed) << runs[2].err;
    ExpectOnly({"secret.doc", "secret.xls", "random.docx"});
}

// The prepared profile configures every later office (macro security, extensions): a cache
// another user could have written is refused before any office starts.
TEST_F(LibreOfficeTest, AProfileCacheOthersCouldChangeIsRefused) {
    WriteAll(Path("sample.rtf"), ReadAll(SAMPLE_RTF));
    std::string cache = Path("shared-cache");
    mkdir(cache.c_str(), 0700);
    mkdir((cache + "/parlux").c_str(), 0700);
    chmod((cache + "/parlux").c_str(), 0777);
    Outcome open = Convert({"sample.rtf", "a.pdf", "ms"}, {"XDG_CACHE_HOME=" + cache});
    EXPECT_EQ(open.code, kInternalError) << open.err;
    EXPECT_NE(Log().find("writable by other users"), std::string::npos) << Log();
    EXPECT_TRUE(OfficePids(Log()).empty()) << Log();
    EXPECT_FALSE(Exists(Path("a.pdf")));

    if (geteuid() != 0) GTEST_SKIP() << "only root can give the cache to another user";
    chmod((cache + "/parlux").c_str(), 0700);
    ASSERT_EQ(chown((cache + "/parlux").c_str(), 65534, 65534), 0);
    Outcome theirs = Convert({"sample.rtf", "b.pdf", "ms"}, {"XDG_CACHE_HOME=" + cache});
    EXPECT_EQ(theirs.code, kInternalError) << theirs.err;
    EXPECT_NE(Log().find("belongs to another user"), std::string::npos) << Log();
    EXPECT_FALSE(Exists(Path("b.pdf")));
}

// The prepared profile records the office version it was made with: an office started on it
// skips the self-tests a new version runs (seconds per start), and a template of another
// version is made again.
TEST_F(LibreOfficeTest, TheProfileTemplateNotesItsOfficeVersionAndIsRemadeForAnother) {
    WriteAll(Path("sample.rtf"), ReadAll(SAMPLE_RTF));
    std::string cache = Path("cache"), templateDir = cache + "/parlux/lo-profile";
    Outcome first = Convert({"sample.rtf", "a.pdf", "ms"}, {"XDG_CACHE_HOME=" + cache});
    ASSERT_EQ(first.code, kSuccess) << first.err << Log();
    std::string version = ReadAll(templateDir + "/.prepared");
    ASSERT_FALSE(version.empty());
    version.pop_back();  // the line's end
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    EXPECT_NE(ReadAll(templateDir + "/user/registrymodifications.xcu")
                  .find("<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" + version + "</value>"),
              std::string::npos);

    // An office on a copy of the template writes no self-test log into its profile.
    std::string copy = Path("copy");
    ASSERT_EQ(std::system(("cp -r '" + templateDir + "' '" + copy + "'").c_str()), 0);
    std::string run = std::string("/usr/lib/libreoffice/program/soffice.bin -env:UserInstallation=file://") + copy +
                      " --headless --invisible --norestore --nologo --convert-to pdf --outdir '" + Path("out") +
                      "' '" + Path("sample.rtf") + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0);
    EXPECT_TRUE(Exists(Path("out/sample.pdf")));
    EXPECT_FALSE(Exists(copy + "/user/GraphicsRenderTests.log"));

    // A template prepared for another version is replaced.
    WriteAll(templateDir + "/.prepared", "6.0\n");
    WriteAll(templateDir + "/stale", "from the old version");
    Outcome again = Convert({"sample.rtf", "b.pdf", "ms"}, {"XDG_CACHE_HOME=" + cache});
    EXPECT_EQ(again.code, kSuccess) << again.err << Log();
    EXPECT_EQ(ReadAll(templateDir + "/.prepared"), version + "\n");
    EXPECT_FALSE(Exists(templateDir + "/stale"));
}

TEST_F(LibreOfficeTest, WordDocumentsInParallelShowTheFinalText) {
    SKIP_WITHOUT_CORPUS("office", "tracked changes in real Word documents and RTF written by Word");
    Corpus("docx-tracked-insert.docx", "insert.docx");
    Corpus("docx-tracked-comments-table.docx", "deleted.docx");
    Corpus("rtf-word-formatting.rtf", "plain.rtf");
    auto runs = ConvertAll({{"insert.docx", "insert.pdf"}, {"deleted.docx", "deleted.pdf"}, {"plain.rtf", "plain.pdf"}});
    for (const Outcome& run : runs) EXPECT_EQ(run.code, kSuccess) << run.err << Log();
    EXPECT_NE(PdfText(Path("insert.pdf")).find("two exciting insertions"), std::string::npos);
    // Every paragraph of this document is a tracked deletion: the final view has none of it.
    EXPECT_EQ(PdfText(Path("deleted.pdf")).find("On the Insert tab"), std::string::npos);
    EXPECT_GE(PdfPages(Path("plain.pdf")), 1);
    EXPECT_FALSE(PdfText(Path("plain.pdf")).empty());
    ExpectOnly({"insert.docx", "insert.pdf", "deleted.docx", "deleted.pdf", "plain.rtf", "plain.pdf"});
}

TEST_F(LibreOfficeTest, WorkbooksFitOnePageWideAndEmptyOnesHaveNoContent) {
    SKIP_WITHOUT_CORPUS("office", "real wide, multi-sheet and empty workbooks");
    Corpus("xlsx-wide-1024-columns.xlsx", "wide.xlsx");
    Corpus("xls-multisheet-names.xls", "sheets.xls");
    Corpus("xlsx-empty-sheets.xlsx", "empty.xlsx");
    auto runs = ConvertAll({{"wide.xlsx", "wide.pdf"}, {"sheets.xls", "sheets.pdf"}, {"empty.xlsx", "empty.pdf"}});
    EXPECT_EQ(runs[0].code, kSuccess) << runs[0].err;
    EXPECT_EQ(runs[1].code, kSuccess) << runs[1].err;
    EXPECT_EQ(runs[2].code, kNoContent) << runs[2].err;
    int widePages = PdfPages(Path("wide.pdf"));
    EXPECT_GE(widePages, 1);
    EXPECT_LE(widePages, 2);  // 1024 columns of one row band: one page wide
    EXPECT_GE(PdfPages(Path("sheets.pdf")), 2);
    ExpectOnly({"wide.xlsx", "wide.pdf", "sheets.xls", "sheets.pdf", "empty.xlsx"});
}

TEST_F(LibreOfficeTest, PasswordsAndForeignBytesFailWithTheirCodes) {
    SKIP_WITHOUT_CORPUS("office", "documents encrypted by Office");
    Corpus("xls-encrypted-rc4cryptoapi.xls", "secret.xls");
    Corpus("doc-encrypted-rc4cryptoapi.doc", "secret.doc");
    WriteAll(Path("random.docx"), std::string("\x8f\x13 not a document \x01\x02\x03 at all \xfe", 30));
    auto runs = ConvertAll({{"secret.xls", "a.pdf"}, {"secret.doc", "b.pdf"}, {"random.docx", "c.pdf"}});
    EXPECT_EQ(runs[0].code, kPasswordProtected) << runs[0].err;
    EXPECT_EQ(runs[1].code, kPasswordProtected) << runs[1].err;
    EXPECT_NE(runs[1].err.find("HRESULT=0x800A1520"), std::string::npos) << runs[1].err;
    EXPECT_EQ(runs[2].code, kOpenFailed) << runs[2].err;
    ExpectOnly({"secret.xls", "secret.doc", "random.docx"});
}

}  // namespace
}  // namespace parlux
