// Real conversions on LibreOffice: real documents of the corpus, checked with poppler's tools.
#include <cstdio>
#include <set>

#include "converter_run.h"
#include "platform/processes.h"
#include "records.h"

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
        WriteAll(Path(as), ReadAll(std::string(PARLUX_CORPUS_DIR) + "/" + name));
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

TEST_F(LibreOfficeTest, WordDocumentsInParallelShowTheFinalText) {
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
