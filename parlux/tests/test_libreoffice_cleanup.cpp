// Abnormal ends of real LibreOffice conversions: time-outs, a killed worker, a stopped parent, a
// planted link, hostile names. Each must leave no process and no file of the attempt behind.
#include <dirent.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <chrono>
#include <set>
#include <thread>

#include "converter_run.h"
#include "platform/processes.h"
#include "records.h"
#include "zip_writer.h"

namespace parlux {
namespace {

using namespace parlux::testing;

// An RTF document of `pages` pages, each opened by a paragraph of outline level 1.
std::string LongRtf(int pages) {
    std::string text = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Liberation Serif;}}\n";
    for (int i = 1; i <= pages; ++i) {
        text += "{\\pard\\outlinelevel0\\b Chapter " + std::to_string(i) + "\\par}\n";
        text += "{\\pard The quick brown fox jumps over the lazy dog on page " + std::to_string(i) + ".\\par}\n";
        if (i < pages) text += "\\page\n";
    }
    return text + "}\n";
}

// A Word document whose body holds `paddingMb` megabytes of blanks between its opening and its
// closing paragraph: a few hundred kilobytes on disk, far more for the office to read.
bool WritePaddedDocument(const std::string& path, int paddingMb) {
    ZipWriter zip(path);
    zip.Begin("[Content_Types].xml");
    zip.Write(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
              R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
              R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
              R"(<Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" )"
              R"(ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)"
              R"(</Types>)");
    zip.End();
    zip.Begin("_rels/.rels");
    zip.Write(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
              R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
              R"(<Relationship Id="rId1" Target="word/document.xml" )"
              R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"/>)"
              R"(</Relationships>)");
    zip.End();
    zip.Begin("word/document.xml");
    zip.Write(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
              R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)"
              R"(<w:p><w:r><w:t>Opening paragraph.</w:t></w:r></w:p>)");
    const std::string blanks(1 << 20, ' ');
    for (int i = 0; i < paddingMb; ++i) zip.Write(blanks);
    zip.Write(R"(<w:p><w:r><w:t>Closing paragraph of the contract.</w:t></w:r></w:p></w:body></w:document>)");
    zip.End();
    return zip.Finish();
}

// The text pdftotext reads in a PDF.
std::string PdfText(const std::string& pdf) {
    std::string text;
    if (FILE* in = popen(("pdftotext '" + pdf + "' - 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
        pclose(in);
    }
    return text;
}

// Every name below `dir`, relative to it.
std::set<std::string> Tree(const std::string& dir, const std::string& prefix = "") {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        names.insert(prefix + name);
        if (e->d_type == DT_DIR)
            for (const std::string& inner : Tree(dir + "/" + name, prefix + name + "/")) names.insert(inner);
    }
    closedir(d);
    return names;
}

// Live processes whose command line mentions `text` (the test's directory).
std::vector<pid_t> ProcessesMentioning(const std::string& text) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (struct dirent* e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::string cmdline = ReadAll("/proc/" + std::string(e->d_name) + "/cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(text) != std::string::npos && platform::ProcessAlive(pid)) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

class LibreOfficeCleanupTest : public ConverterRun {
protected:
    void SetUp() override {
        ConverterRun::SetUp();
        Register("Word.Application = libreoffice soffice.bin\nExcel.Application = libreoffice soffice.bin\n");
        // A real Word document, made by LibreOffice before these tests.
        std::string document = ReadAll(std::string(OFFICE_FIXTURES_DIR) + "/tracked.docx");
        ASSERT_FALSE(document.empty()) << "the office fixtures were not made";
        WriteAll(Path("report.docx"), document);
        const char* tmp = std::getenv("TMPDIR");
        // The runs' own temporary directory: it must be empty again after every run.
        m_tmp = Path("tmp");
        mkdir(m_tmp.c_str(), 0700);
        m_env = {"XDG_CACHE_HOME=" + std::string(tmp ? tmp : "/tmp") + "/lo-cache", "TMPDIR=" + m_tmp};
        m_before = Tree(m_dir);
        m_started = time(nullptr);
    }
    // Socket files of office pipes in /tmp made since the test began that nobody listens on.
    std::vector<std::string> StaleOfficeSockets() const {
        std::vector<std::string> stale;
        DIR* tmp = opendir("/tmp");
        while (struct dirent* e = tmp ? readdir(tmp) : nullptr) {
            struct stat st;
            std::string name = e->d_name, path = "/tmp/" + name;
            if (name.rfind("OSL_PIPE_", 0) == 0 && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
                st.st_mtime >= m_started && !platform::SocketPathInUse(path))
                stale.push_back(path);
        }
        if (tmp) closedir(tmp);
        return stale;
    }
    // Nothing of the attempt survives: no process, no file in the temporary directory, and the
    // test directory holds what it held plus `added`.
    void ExpectNothingLeft(const std::set<std::string>& added) {
        std::vector<pid_t> left = ProcessesMentioning(m_dir);
        for (int i = 0; i < 50 && !left.empty(); ++i) {  // a killed process may still be exiting
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            left = ProcessesMentioning(m_dir);
        }
        EXPECT_TRUE(left.empty()) << "process left: " << left.front();
        for (pid_t pid : left) Stop(pid);
        EXPECT_TRUE(Tree(m_tmp).empty()) << "left in TMPDIR: " << *Tree(m_tmp).begin();
        // Another test's office killed a moment ago leaves its pipe until its own cleanup: only a
        // pipe that stays is this run's.
        std::vector<std::string> sockets = StaleOfficeSockets();
        for (int i = 0; i < 100 && !sockets.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sockets = StaleOfficeSockets();
        }
        EXPECT_TRUE(sockets.empty()) << "office pipe left: " << sockets.front();
        std::set<std::string> expected = m_before;
        expected.insert({"Logs", "Logs/convertLog.txt", "Logs/convertLog.txt.lock", "stderr.txt"});
        expected.insert(added.begin(), added.end());
        for (const std::string& name : Tree(m_dir))
            EXPECT_TRUE(expected.count(name)) << "left behind: " << name;
    }
    // Waits until the log shows `text`; false after a minute.
    bool AwaitLog(const std::string& text) {
        for (int i = 0; i < 3000; ++i) {
            if (Log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    pid_t WorkerPid() {
        std::string log = Log();
        size_t at = log.rfind("worker_pid=");
        return at == std::string::npos ? 0 : static_cast<pid_t>(std::atol(log.c_str() + at + 11));
    }
    std::string m_tmp;
    std::vector<std::string> m_env;
    std::set<std::string> m_before;
    time_t m_started = 0;
};

TEST_F(LibreOfficeCleanupTest, TimeOutDuringTheStartUpLeavesNothingBehind) {
    // The office is frozen as soon as it appears, so the one-second limit ends the attempt during
    // its start-up however fast the office starts.
    std::vector<std::string> env = m_env;
    env.push_back("PARLUX_TIMEOUT_MS=1000");
    pid_t run = Start({"report.docx", "out.pdf", "ms"}, env);
    pid_t office = 0;
    for (int i = 0; i < 6000 && office == 0; ++i) {
        for (pid_t pid : ProcessesMentioning(m_dir))
            if (ReadAll("/proc/" + std::to_string(pid) + "/comm") == "soffice.bin\n") office = pid;
        if (office == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(office, 0) << Log();
    kill(office, SIGSTOP);
    Outcome startup = Wait(run);
    EXPECT_EQ(startup.code, kTimeout) << startup.err << Log();
    ExpectNothingLeft({});
}

// Under a memory limit it passes, the office reading a document is stopped at once and the
// attempt fails; under one it fits, the whole document is converted. (The office under an
// address-space limit of the second size stopped reading at the padding and exported the rest
// of the document as empty.)
TEST_F(LibreOfficeCleanupTest, ADocumentPastTheMemoryLimitFailsAndOneWithinItConvertsWhole) {
    if (system("command -v pdftotext > /dev/null") != 0) GTEST_SKIP() << "pdftotext (poppler-utils) is missing";
    ASSERT_TRUE(WritePaddedDocument(Path("padded.docx"), 100));
    m_before = Tree(m_dir);
    std::vector<std::string> env = m_env;
    env.push_back("PARLUX_MEMORY_MB=256");
    Outcome over = Convert({"padded.docx", "out.pdf", "ms"}, env);
    EXPECT_EQ(over.code, kOpenFailed) << over.err << Log();
    EXPECT_NE(over.err.find("stage=5, HRESULT=0x8007000E, Conversion exceeded the memory limit of 256 MB."),
              std::string::npos)
        << over.err;
    EXPECT_FALSE(Exists(Path("out.pdf")));
    ExpectNothingLeft({});

    env = m_env;
    env.push_back("PARLUX_MEMORY_MB=768");
    Outcome fits = Convert({"padded.docx", "out.pdf", "ms"}, env);
    ASSERT_EQ(fits.code, kSuccess) << fits.err << Log();
    std::string text = PdfText(Path("out.pdf"));
    EXPECT_NE(text.find("Opening paragraph."), std::string::npos) << text;
    EXPECT_NE(text.find("Closing paragraph of the contract."), std::string::npos) << text;
    ExpectNothingLeft({"out.pdf"});
}

TEST_F(LibreOfficeCleanupTest, TimeOutDuringTheExportLeavesNothingBehind) {
    WriteAll(Path("long.rtf"), LongRtf(300));
    WriteAll(Path("out.pdf"), "the previous PDF");
    m_before = Tree(m_dir);
    // The office is frozen once its export begins, so the time limit ends the attempt during the
    // export whatever the machine's speed; a limit that ran out before the export is raised.
    Outcome run;
    for (int limitMs = 12000; limitMs <= 75000; limitMs = limitMs * 5 / 2) {
        WriteAll(Path("Logs/convertLog.txt"), "");
        std::vector<std::string> env = m_env;
        env.push_back("PARLUX_TIMEOUT_MS=" + std::to_string(limitMs));
        pid_t parlux = Start({"long.rtf", "out.pdf", "ms"}, env);
        bool exporting = false;
        for (int waited = 0; !exporting && waited < limitMs + 60000 && Log().find("result=") == std::string::npos;
             waited += 5) {
            exporting = Log().find("stage=7") != std::string::npos;
            if (!exporting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (exporting) {
            ASSERT_EQ(kill(OfficePid(Log()), SIGSTOP), 0) << Log();
        }
        run = Wait(parlux);
        if (exporting) break;
        ExpectNothingLeft({});
    }
    EXPECT_EQ(run.code, kTimeout) << run.err << Log();
    EXPECT_NE(run.err.find("stage=7"), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(Path("out.pdf")), "the previous PDF");
    ExpectNothingLeft({});
}

TEST_F(LibreOfficeCleanupTest, PackagePartOverTheCapIsRefusedBeforeTheOfficeLoadsIt) {
    // Inflated, the padded part of this 80 kB workbook is larger than the worker reads.
    WriteAll(Path("padded.xlsx"), ReadAll(std::string(OFFICE_FIXTURES_DIR) + "/padded.xlsx"));
    m_before = Tree(m_dir);
    Outcome refused = Convert({"padded.xlsx", "out.pdf", "ms"}, m_env);
    EXPECT_EQ(refused.code, kOpenFailed) << refused.err << Log();
    EXPECT_NE(refused.err.find("A part of the workbook package is larger than 64 MB."), std::string::npos)
        << refused.err;
    ExpectNothingLeft({});
}

TEST_F(LibreOfficeCleanupTest, KilledWorkerAndStoppedParentLeaveNothingBehind) {
    WriteAll(Path("long.rtf"), LongRtf(300));  // its export takes long enough to be interrupted
    m_before = Tree(m_dir);
    pid_t run = Start({"long.rtf", "out.pdf", "ms"}, m_env);
    ASSERT_TRUE(AwaitLog("stage=7")) << Log();
    pid_t worker = WorkerPid();
    ASSERT_GT(worker, 0);
    kill(worker, SIGKILL);  // its office and its private files must go with it
    Outcome killed = Wait(run);
    EXPECT_EQ(killed.code, kInternalError) << killed.err;
    ExpectNothingLeft({});

    WriteAll(Path("Logs/convertLog.txt"), "");
    run = Start({"long.rtf", "out.pdf", "ms"}, m_env);
    ASSERT_TRUE(AwaitLog("stage=7")) << Log();
    kill(run, SIGTERM);  // the parent cancels and cleans up before it exits
    Outcome stopped = Wait(run);
    EXPECT_EQ(stopped.code, kTimeout) << stopped.err;
    EXPECT_NE(stopped.err.find("HRESULT=0x800704C7, Conversion was cancelled."), std::string::npos) << stopped.err;
    ExpectNothingLeft({});
}

TEST_F(LibreOfficeCleanupTest, LinkPlantedAtTheTemporaryNameIsRefused) {
    WriteAll(Path("victim.txt"), "not a pdf");
    m_before = Tree(m_dir);
    pid_t run = Start({"report.docx", "out.pdf", "ms"}, m_env);
    std::string temp;
    for (int i = 0; i < 3000 && temp.empty(); ++i) {
        for (const std::string& name : Tree(m_dir))
            if (name.rfind("plx", 0) == 0) temp = name;
        if (temp.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(temp.empty());
    ASSERT_EQ(unlink(Path(temp).c_str()), 0);
    ASSERT_EQ(symlink(Path("victim.txt").c_str(), Path(temp).c_str()), 0);
    Outcome attacked = Wait(run);
    EXPECT_EQ(attacked.code, kExportFailed) << attacked.err << Log();
    EXPECT_EQ(ReadAll(Path("victim.txt")), "not a pdf");
    struct stat st;
    EXPECT_NE(lstat(Path("out.pdf").c_str(), &st), 0);
    ExpectNothingLeft({temp});  // the planted link is not this run's to delete
}

TEST_F(LibreOfficeCleanupTest, LatinOneNamesAndLongPathsConvertWithTheAskedOptions) {
    std::string latin = "r\xE9sum\xE9";  // a Latin-1 name: not UTF-8
    std::string deep = "d" + std::string(120, 'x') + "/" + std::string(120, 'y');
    ASSERT_EQ(mkdir(Path(deep.substr(0, 121)).c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path(deep).c_str(), 0755), 0);
    std::string longSource = deep + "/" + std::string(60, 'z') + ".rtf";
    ASSERT_GT(Path(longSource).size(), 300u);
    WriteAll(Path(latin + ".rtf"), LongRtf(3));
    WriteAll(Path(longSource), LongRtf(2));
    m_before = Tree(m_dir);
    pid_t first = Start({latin + ".rtf", latin + ".pdf", "ms"}, m_env, "err0");
    pid_t second = Start({longSource, deep + "/out.pdf", "ms"}, m_env, "err1");
    Outcome a = Wait(first, "err0"), b = Wait(second, "err1");
    EXPECT_EQ(a.code, kSuccess) << a.err << Log();
    EXPECT_EQ(b.code, kSuccess) << b.err << Log();
    EXPECT_NE(Log().find("source=" + m_dir + "/r\xEF\xBF\xBDsum\xEF\xBF\xBD.rtf"), std::string::npos) << Log();
    // Microsoft's export asks for no bookmarks and for document structure tags.
    std::string pdf = ReadAll(Path(latin + ".pdf"));
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    EXPECT_EQ(pdf.find("/Outlines"), std::string::npos);
    EXPECT_NE(pdf.find("/Marked true"), std::string::npos);
    ExpectNothingLeft({latin + ".pdf", deep + "/out.pdf", "err0", "err1"});
}

// A batch on real offices: they are kept between jobs, an office killed during an export fails
// only that job, and nothing of any worker or office is left afterwards.
TEST_F(LibreOfficeCleanupTest, ABatchKeepsItsOfficesAndAKilledOneCostsOnlyItsJob) {
    WriteAll(Path("sample.rtf"), ReadAll(SAMPLE_RTF));
    WriteAll(Path("long.rtf"), LongRtf(300));  // its export takes long enough to be interrupted
    WriteAll(Path("after.docx"), ReadAll(Path("report.docx")));
    WriteAll(Path("wide.xlsx"), ReadAll(std::string(OFFICE_FIXTURES_DIR) + "/wide.xlsx"));
    WriteAll(Path("secret.xls"), ReadAll(std::string(OFFICE_FIXTURES_DIR) + "/secret.xls"));
    std::string jobs;
    for (const char* name : {"report.docx", "sample.rtf", "long.rtf", "after.docx", "wide.xlsx", "secret.xls",
                             "missing.docx"})
        jobs += R"({"source": ")" + std::string(name) + R"(", "target": ")" + name + ".pdf\"}\n";
    WriteAll(Path("jobs.jsonl"), jobs);
    pid_t batch = Start({"--batch", "jobs.jsonl", "--jobs", "1"}, m_env, "stderr.txt", "results.jsonl");
    ASSERT_TRUE(AwaitLog(" source=" + Path("long.rtf") + " ")) << Log();
    std::string log = Log();
    size_t at = log.find(" source=" + Path("long.rtf") + " ");
    std::string request = log.substr(log.rfind("request=", at), at - log.rfind("request=", at));
    ASSERT_TRUE(AwaitLog(request + " provider=ms stage=7 ")) << Log();
    log = Log();
    pid_t office = static_cast<pid_t>(std::atol(log.c_str() + log.find(" pid=", log.find(request + " provider=ms stage=7 ")) + 5));
    ASSERT_GT(office, 0);
    kill(office, SIGKILL);
    Outcome run = Wait(batch);
    EXPECT_EQ(run.code, 1) << run.err;
    std::string results = ReadAll(Path("results.jsonl"));
    auto codeOf = [&](const std::string& name) {
        size_t line = results.find("\"source\":\"" + name + "\"");
        if (line == std::string::npos) return -100;
        return std::atoi(results.c_str() + results.find("\"code\":", line) + 7);
    };
    for (const char* name : {"report.docx", "sample.rtf", "after.docx", "wide.xlsx"})
        EXPECT_EQ(codeOf(name), kSuccess) << name << "\n" << results;
    int killed = codeOf("long.rtf");
    EXPECT_TRUE(killed != kSuccess && killed != -100) << results;
    EXPECT_EQ(codeOf("secret.xls"), kPasswordProtected) << results;
    EXPECT_EQ(codeOf("missing.docx"), kSourceUnavailable);
    EXPECT_FALSE(Exists(Path("long.rtf.pdf")));
    // The first three documents, up to the one whose office was killed, shared one office.
    log = Log();
    std::string first = log.substr(log.find(" provider=ms worker_pid="), 40);
    EXPECT_EQ(Count(log, first.substr(0, first.find(" timeout_ms="))), 3u) << log;
    ExpectNothingLeft({"sample.rtf", "long.rtf", "after.docx", "wide.xlsx", "secret.xls", "jobs.jsonl", "results.jsonl",
                       "report.docx.pdf", "sample.rtf.pdf", "after.docx.pdf", "wide.xlsx.pdf"});
}

}  // namespace
}  // namespace parlux
