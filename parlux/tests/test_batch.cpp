// Batch conversions end to end with the scripted office suite: per-job codes, a hanging and a
// crashing office costing only their own job, recycled offices, bad job lines and cancellation.
#include <dirent.h>
#include <poll.h>
#include <sys/mman.h>
#include <rapidjson/document.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "batch/batch_jobs.h"
#include "batch/job_feed.h"
#include "compound_fixture.h"
#include "converter_run.h"
#include "job_records.h"
#include "platform/pipes.h"
#include "platform/processes.h"

namespace parlux {
namespace {

using namespace parlux::testing;

// Where a /proc descriptor link points.
std::string LinkTarget(const std::string& link) {
    char target[4096];
    ssize_t n = readlink(link.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

struct Result {
    int code = 0;
    std::string name, hresult, message;
    unsigned stage = 0;
};

class BatchTest : public ConverterRun {
protected:
    void SetUp() override {
        ConverterRun::SetUp();
        Register("Word.Application = fake winword.exe\nExcel.Application = fake excel.exe\n");
        ScriptDocuments("{}");
        m_tmp = Path("tmp");
        mkdir(m_tmp.c_str(), 0700);
    }
    // The scenario, with `documents` giving scripts to documents by file name.
    void ScriptDocuments(const std::string& documents) {
        Scenario(R"({"Word.Application": {"image": "winword.exe", "documents": )" + documents +
                 R"(}, "Excel.Application": {"image": "excel.exe", "sheets": [{"formula": "=1"}], "documents": )" +
                 documents + "}}");
    }
    std::string Job(const std::string& source, const std::string& target) {
        return R"({"source": ")" + source + R"(", "target": ")" + target + "\"}\n";
    }
    // Scripted documents of these names, and their jobs (each to its name plus ".pdf").
    std::string MakeDocuments(std::initializer_list<const char*> names) {
        std::string jobs;
        for (const char* name : names) {
            WriteAll(Path(name), "PK scripted");
            jobs += Job(name, std::string(name) + ".pdf");
        }
        return jobs;
    }
    pid_t StartBatch(const std::string& jobs, const std::vector<std::string>& options,
                     const std::vector<std::string>& env = {}) {
        WriteAll(Path("jobs.jsonl"), jobs);
        std::vector<std::string> args = {"--batch", "jobs.jsonl"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<std::string> fullEnv = {"TMPDIR=" + m_tmp};
        fullEnv.insert(fullEnv.end(), env.begin(), env.end());
        return Start(args, fullEnv, "stderr.txt", "results.jsonl");
    }
    // Runs the batch; the results by source, each line checked to be one JSON object.
    std::map<std::string, Result> Run(const std::string& jobs, const std::vector<std::string>& options,
                                      const std::vector<std::string>& env = {}) {
        m_exit = Wait(StartBatch(jobs, options, env)).code;
        return Results();
    }
    std::map<std::string, Result> Results() {
        std::map<std::string, Result> results;
        std::istringstream lines(ReadAll(Path("results.jsonl")));
        m_lines = 0;
        for (std::string line; std::getline(lines, line); ++m_lines) {
            rapidjson::Document doc;
            doc.Parse(line.c_str());
            EXPECT_TRUE(!doc.HasParseError() && doc.IsObject()) << line;
            if (doc.HasParseError() || !doc.IsObject()) continue;
            std::string key = doc["source"].IsString()
                                  ? std::string(doc["source"].GetString(), doc["source"].GetStringLength())
                                  : "line" + std::to_string(doc["line"].GetUint());
            results[key] = Result{doc["code"].GetInt(), doc["name"].GetString(), doc["hresult"].GetString(),
                                  doc["message"].GetString(), doc["stage"].GetUint()};
        }
        return results;
    }
    // The distinct numbers following `key` in the log.
    std::set<long> Numbers(const std::string& key) const {
        std::set<long> found;
        std::string log = Log();
        for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
            found.insert(std::atol(log.c_str() + at + key.size()));
        found.erase(0);
        return found;
    }
    // Nothing of the batch is left: no office of its workers runs, no temporary PDF or directory.
    void ExpectNothingLeft() {
        std::set<long> offices = Numbers(" pid=");
        EXPECT_FALSE(offices.empty());
        for (long pid : offices) EXPECT_FALSE(platform::ProcessAlive(static_cast<pid_t>(pid))) << pid;
        for (long pid : Numbers("worker_pid=")) EXPECT_FALSE(platform::ProcessAlive(static_cast<pid_t>(pid))) << pid;
        EXPECT_FALSE(TempFilesLeft());
        DIR* dir = opendir(m_tmp.c_str());
        ASSERT_NE(dir, nullptr);
        int entries = 0;
        while (struct dirent* e = readdir(dir)) entries += e->d_name[0] != '.';
        closedir(dir);
        EXPECT_EQ(entries, 0) << "the batch left files in its temporary directory";
    }
    bool IsPdf(const std::string& name) const { return ReadAll(Path(name)).rfind("%PDF-", 0) == 0; }
    // Waits (at most 20 s) until the log holds `text`.
    bool AwaitLog(const std::string& text) const {
        for (int i = 0; i < 400; ++i) {
            if (Log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // The request identifier the log gave the job of `source`.
    std::string RequestOf(const std::string& source) const {
        std::string log = Log();
        size_t at = log.find(" source=" + Path(source) + " ");
        size_t start = at == std::string::npos ? at : log.rfind("request=", at);
        return start == std::string::npos ? std::string() : log.substr(start, at - start);
    }

    std::string m_tmp;
    int m_exit = 0;
    size_t m_lines = 0;
};

TEST_F(BatchTest, ADozenDocumentsEachGetTheirOwnCode) {
    ScriptDocuments(R"({"empty.xlsx": {"sheets": [{"formula": ""}]}})");
    std::string jobs = MakeDocuments({"a.docx", "b.docx", "c.rtf", "d.doc", "e.docx", "book1.xlsx", "book2.xls", "book3.xlsx"});
    WriteAll(Path("secret.docx"), CompoundFileBytes({"EncryptionInfo", "EncryptedPackage"}));
    WriteAll(Path("empty.xlsx"), "PK");
    WriteAll(Path("notes.txt"), "text");
    WriteAll(Path("secret.docx.pdf"), "an earlier PDF");
    jobs += Job("secret.docx", "secret.docx.pdf") + Job("empty.xlsx", "empty.xlsx.pdf") +
            Job("notes.txt", "notes.txt.pdf") + Job("missing.docx", "missing.docx.pdf");
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "2"});
    EXPECT_EQ(m_exit, 1);
    ASSERT_EQ(m_lines, 12u) << ReadAll(Path("results.jsonl"));
    for (const char* name : {"a.docx", "b.docx", "c.rtf", "d.doc", "e.docx", "book1.xlsx", "book2.xls", "book3.xlsx"}) {
        EXPECT_EQ(results[name].name, "success") << name;
        EXPECT_EQ(results[name].stage, 10u);
        EXPECT_TRUE(IsPdf(std::string(name) + ".pdf")) << name;
    }
    EXPECT_EQ(results["secret.docx"].code, kPasswordProtected);
    EXPECT_EQ(results["empty.xlsx"].code, kNoContent);
    EXPECT_EQ(results["empty.xlsx"].message, "The workbook contains no cell, drawing, or chart content.");
    EXPECT_EQ(results["notes.txt"].code, kUnsupportedFormat);
    EXPECT_EQ(results["missing.docx"].name, "source_unavailable");
    EXPECT_EQ(ReadAll(Path("secret.docx.pdf")), "an earlier PDF");
    EXPECT_FALSE(Exists(Path("empty.xlsx.pdf")) || Exists(Path("notes.txt.pdf")) || Exists(Path("missing.docx.pdf")));
    // Offices are kept between jobs: fewer workers than conversions, and each job logged as alone.
    EXPECT_LE(Numbers("worker_pid=").size(), 4u);
    EXPECT_EQ(Count(Log(), " completed provider=ms result=success"), 8u);
    EXPECT_EQ(Count(Log(), "conversion rejected before or between providers result="), 4u);
    EXPECT_EQ(Count(Log(), "result=password_protected\r\n"), 1u);
    ExpectNothingLeft();
}

TEST_F(BatchTest, AHangingDocumentTimesOutAloneWhileTheOthersSucceed) {
    ScriptDocuments(R"({"hang.docx": {"hangs": ["doc.ExportAsFixedFormat"]}})");
    std::string jobs = MakeDocuments({"a.docx", "hang.docx", "b.docx", "c.xlsx", "d.docx", "e.xlsx"});
    // The limit covers a first job's office start-up too: 3 s leave room for a loaded machine.
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "2"}, {"PARLUX_TIMEOUT_MS=3000"});
    EXPECT_EQ(m_exit, 1);
    const Result& hang = results["hang.docx"];
    EXPECT_EQ(hang.name, "timeout");
    EXPECT_EQ(hang.stage, 7u);
    EXPECT_EQ(hang.hresult, "0x80070102");
    EXPECT_EQ(hang.message, "Conversion exceeded the configured timeout.");
    for (const char* name : {"a.docx", "b.docx", "c.xlsx", "d.docx", "e.xlsx"}) {
        EXPECT_EQ(results[name].code, kSuccess) << name;
        EXPECT_TRUE(IsPdf(std::string(name) + ".pdf"));
    }
    EXPECT_FALSE(Exists(Path("hang.docx.pdf")));
    EXPECT_EQ(Count(Log(), "worker timeout; cancellation requested"), 1u);
    EXPECT_NE(Log().find(RequestOf("hang.docx") + " provider=ms worker timeout"), std::string::npos);
    ExpectNothingLeft();
}

TEST_F(BatchTest, JobsNamingOneTargetRunOneAfterAnotherInLineOrder) {
    ScriptDocuments(R"({"slow.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 1500}})");
    MakeDocuments({"slow.docx", "fast.docx", "other.docx"});
    // The second job spells the same target differently.
    std::string jobs = Job("slow.docx", "same.pdf") + Job("fast.docx", "./same.pdf") + Job("other.docx", "other.pdf");
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "2"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(results["slow.docx"].code, kSuccess);
    EXPECT_EQ(results["fast.docx"].code, kSuccess);
    EXPECT_EQ(results["other.docx"].code, kSuccess);
    EXPECT_TRUE(IsPdf("same.pdf"));
    std::string log = Log();
    size_t slowDone = log.find(RequestOf("slow.docx") + " completed");
    size_t fastBegun = log.find(" source=" + Path("fast.docx") + " ");
    ASSERT_NE(slowDone, std::string::npos);
    ASSERT_NE(fastBegun, std::string::npos);
    EXPECT_LT(slowDone, fastBegun) << "the later job for the target began while the earlier one ran";
    ExpectNothingLeft();
}

TEST_F(BatchTest, UnreadableJobListsAndLooseCountsAreRefused) {
    // A directory opens but cannot be read: the batch must not end as if it held no jobs.
    mkdir(Path("jobs.d").c_str(), 0700);
    Outcome directory = Convert({"--batch", "jobs.d"});
    EXPECT_EQ(directory.code, 1);
    EXPECT_EQ(directory.err, "Unable to read the job list jobs.d.\n");
    Outcome missing = Convert({"--batch", "absent.jsonl"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "Unable to read the job list absent.jsonl.\n");
    WriteAll(Path("jobs.jsonl"), "");
    for (const char* count : {" 2", "+2", "2 ", "0x2", "", "-1", "0"}) {
        Outcome loose = Convert({"--batch", "jobs.jsonl", "--jobs", count});
        EXPECT_EQ(loose.code, -1) << "--jobs '" << count << "'";
        EXPECT_EQ(loose.err, "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]\n");
        EXPECT_EQ(Convert({"--batch", "jobs.jsonl", "--recycle", count}).code, -1) << "--recycle '" << count << "'";
    }
    EXPECT_EQ(Convert({"--batch", "jobs.jsonl", "--jobs", "65"}).code, -1);
    EXPECT_EQ(Convert({"--batch", "jobs.jsonl", "--jobs", "2", "--recycle", "1"}).code, 0);
}

TEST_F(BatchTest, KillingAnOfficeMidBatchFailsOnlyItsJob) {
    ScriptDocuments(R"({"slow.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 1500}})");
    std::string jobs = MakeDocuments({"a.docx", "slow.docx", "b.docx", "c.docx"});
    pid_t batch = StartBatch(jobs, {"--jobs", "1"});
    ASSERT_TRUE(AwaitLog(" source=" + Path("slow.docx") + " "));
    std::string request = RequestOf("slow.docx");
    ASSERT_TRUE(AwaitLog(request + " provider=ms stage=7 "));
    std::string log = Log();
    size_t at = log.find(request + " provider=ms stage=7 ");
    pid_t office = static_cast<pid_t>(std::atol(log.c_str() + log.find(" pid=", at) + 5));
    ASSERT_GT(office, 0);
    kill(office, SIGKILL);
    m_exit = Wait(batch).code;
    std::map<std::string, Result> results = Results();
    EXPECT_EQ(m_exit, 1);
    EXPECT_EQ(results["slow.docx"].code, kExportFailed);
    EXPECT_EQ(results["slow.docx"].hresult, "0x800706BA");
    for (const char* name : {"a.docx", "b.docx", "c.docx"}) EXPECT_EQ(results[name].code, kSuccess) << name;
    // The worker of the crashed office was replaced; the others kept theirs.
    EXPECT_EQ(Numbers("worker_pid=").size(), 2u);
    ExpectNothingLeft();
}

// A job falls back to the next suite as a single run does; the other suite's worker is a new one.
TEST_F(BatchTest, AJobFallsBackToTheNextProviderOnItsOwn) {
    Register("Word.Application = fake winword.exe\nKWPS.Application = fake wps.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "documents": {"x.docx":
                   {"failures": {"doc.ExportAsFixedFormat": [-2147467259, "Export failed."]}}}},
                 "KWPS.Application": {"image": "wps.exe"}})");
    std::string jobs = MakeDocuments({"x.docx", "y.docx", "z.docx"}) +
                       R"({"source": "y.docx", "target": "y-wps.pdf", "provider": "wps"})" + "\n";
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "1"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(m_lines, 4u);
    EXPECT_EQ(results["x.docx"].code, kSuccess);
    EXPECT_TRUE(IsPdf("x.docx.pdf") && IsPdf("y.docx.pdf") && IsPdf("z.docx.pdf") && IsPdf("y-wps.pdf"));
    std::string log = Log();
    EXPECT_EQ(Count(log, "fallback_from=ms reason=export_failed"), 1u);
    EXPECT_NE(log.find(RequestOf("x.docx") + " completed provider=wps result=success"), std::string::npos);
    EXPECT_EQ(Count(log, "completed provider=wps result=success"), 2u);
    EXPECT_EQ(Count(log, "completed provider=ms result=success"), 2u);
    ExpectNothingLeft();
}

// Jobs arriving over time (a service writing to a pipe) start as they come, on the kept office.
TEST_F(BatchTest, JobsAreTakenAsTheyArrive) {
    MakeDocuments({"first.docx", "second.docx", "third.docx"});
    ASSERT_EQ(mkfifo(Path("jobs.fifo").c_str(), 0600), 0);
    pid_t batch = Start({"--batch", "jobs.fifo", "--jobs", "1"}, {"TMPDIR=" + m_tmp}, "stderr.txt", "results.jsonl");
    int input = open(Path("jobs.fifo").c_str(), O_WRONLY);
    ASSERT_GE(input, 0);
    std::string first = Job("first.docx", "first.pdf");
    ASSERT_EQ(write(input, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    bool answered = false;
    for (int i = 0; i < 400 && !answered; ++i) {
        answered = ReadAll(Path("results.jsonl")).find("\"line\":1,") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(answered) << "the first job waited for the end of the input";
    std::string rest = Job("second.docx", "second.pdf") + "{\"source\": \"third.docx\", \"target\": \"third.pdf\"}";
    ASSERT_EQ(write(input, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
    close(input);  // the last line has no line end
    m_exit = Wait(batch).code;
    std::map<std::string, Result> results = Results();
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(results.size(), 3u);
    EXPECT_EQ(Numbers("worker_pid=").size(), 1u);  // the office waited for the next jobs
    ExpectNothingLeft();
}

TEST_F(BatchTest, OfficesAreRecycledAfterTheGivenNumberOfJobs) {
    std::string jobs;
    for (int i = 1; i <= 5; ++i) {
        WriteAll(Path("d" + std::to_string(i) + ".docx"), "PK scripted");
        jobs += Job("d" + std::to_string(i) + ".docx", "d" + std::to_string(i) + ".pdf");
    }
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "1", "--recycle", "2"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(results.size(), 5u);
    EXPECT_EQ(Numbers("worker_pid=").size(), 3u);
    EXPECT_EQ(Numbers(" pid=").size(), 3u);  // one office per worker
    EXPECT_EQ(Count(Calls(), "app.Quit()"), 3u);
    EXPECT_EQ(Count(Calls(), "Documents.Open("), 5u);
    ExpectNothingLeft();
}

// A job whose office passes the memory limit fails alone; an office that holds more than three
// quarters of the limit after its job is replaced, one that reserved as much but holds little is kept.
TEST_F(BatchTest, AJobPastTheMemoryLimitFailsAloneAndGrownOfficesAreReplaced) {
    ScriptDocuments(R"({"fat.docx": {"hangMs": 200, "grows": {"doc.ExportAsFixedFormat": 400}},
                        "big.docx": {"hangMs": 60000, "grows": {"doc.ExportAsFixedFormat": 600}}})");
    std::string jobs = MakeDocuments({"a.docx", "fat.docx", "b.docx", "big.docx", "c.docx"});
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "1"}, {"PARLUX_MEMORY_MB=512"});
    EXPECT_EQ(m_exit, 1);
    const Result& big = results["big.docx"];
    EXPECT_EQ(big.name, "export_failed");
    EXPECT_EQ(big.stage, 7u);
    EXPECT_EQ(big.hresult, "0x8007000E");
    EXPECT_EQ(big.message, "Conversion exceeded the memory limit of 512 MB.");
    EXPECT_FALSE(Exists(Path("big.docx.pdf")));
    for (const char* name : {"a.docx", "fat.docx", "b.docx", "c.docx"}) {
        EXPECT_EQ(results[name].code, kSuccess) << name;
        EXPECT_TRUE(IsPdf(std::string(name) + ".pdf"));
    }
    EXPECT_EQ(Count(Log(), "memory limit exceeded resident_mb="), 1u);
    // a and fat on the first office, b and big on the second, c on a third.
    EXPECT_EQ(Numbers("worker_pid=").size(), 3u);
    ExpectNothingLeft();
}

// An office that starts slowly is worth waiting for: a slot whose workbook is done leaves the
// documents to the slot starting a Word office instead of starting a second one itself.
TEST_F(BatchTest, ASlotKeepsItsOfficeWhileAnotherServesTheWaitingKind) {
    Scenario(R"({"Word.Application": {"image": "winword.exe", "startMs": 1500},
                 "Excel.Application": {"image": "excel.exe", "sheets": [{"formula": "=1"}]}})");
    std::string jobs = MakeDocuments({"a.docx", "b.xlsx", "c.docx", "d.docx", "e.docx"});
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "2"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(results.size(), 5u);
    EXPECT_EQ(Count(Log(), "Creating Word.Application."), 1u) << Log();
    EXPECT_EQ(Count(Log(), "Creating Excel.Application."), 1u);
    EXPECT_EQ(Count(Calls(), "Documents.Open("), 4u);
    ExpectNothingLeft();
}

TEST_F(BatchTest, BadJobLinesAreReportedWithoutStoppingTheBatch) {
    WriteAll(Path("good.docx"), "PK scripted");
    std::string odd = "r\xC3\xA9sum\xC3\xA9 \"q\" \\ \xE6\x8A\xA5.docx";  // UTF-8, a quote and a backslash
    WriteAll(Path(odd), "PK scripted");
    std::string jobs = "not json\n"
                       "\n"
                       "{\"source\": \"good.docx\"}\n"
                       "{\"source\": 7, \"target\": \"x.pdf\"}\n"
                       "{\"source\": \"good.docx\", \"target\": \"x.pdf\", \"provider\": \"office\"}\n"
                       "{\"source\": \"bad\xFF.docx\", \"target\": \"x.pdf\"}\n"
                       "{\"source\": \"nul\\u0000.docx\", \"target\": \"x.pdf\"}\n"
                       "[1, 2]\n" +
                       Job("good.docx", "good.pdf") +
                       "{\"source\": \"r\\u00e9sum\\u00e9 \\\"q\\\" \\\\ \xE6\x8A\xA5.docx\", \"target\": \"odd.pdf\", "
                       "\"provider\": \"MS\"}\n";
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "2"});
    EXPECT_EQ(m_exit, 1);
    EXPECT_EQ(m_lines, 9u);  // the blank line is no job
    EXPECT_EQ(results["good.docx"].code, kSuccess);
    EXPECT_TRUE(IsPdf("good.pdf"));
    EXPECT_EQ(results[odd].code, kSuccess) << "a name with quotes, a backslash and UTF-8 round-trips";
    EXPECT_TRUE(IsPdf("odd.pdf"));
    EXPECT_EQ(results["line1"].message, "Job line 1 is not a JSON object.");
    EXPECT_EQ(results["line1"].code, kInvalidArguments);
    EXPECT_EQ(results["line8"].message, "Job line 8 is not a JSON object.");
    EXPECT_EQ(results["line6"].message, "Job line 6 is not valid UTF-8.");
    EXPECT_EQ(results["line4"].message, "Job line 4 needs the strings \"source\" and \"target\".");
    EXPECT_EQ(results[std::string("nul\0.docx", 9)].message, "Job line 7 holds a path with a NUL character.");
    // The source is known, the target is not: the result still names the job.
    rapidjson::Document missingTarget;
    std::string all = ReadAll(Path("results.jsonl"));
    std::string line3 = all.substr(all.find("{\"line\":3,"));
    missingTarget.Parse(line3.substr(0, line3.find('\n')).c_str());
    EXPECT_TRUE(missingTarget["target"].IsNull());
    EXPECT_EQ(std::string(missingTarget["source"].GetString()), "good.docx");
    EXPECT_EQ(Count(all, "Provider must be 'ms' or 'wps'."), 1u);

    // A malformed command line is refused before any job.
    Outcome usage = Convert({"--batch", "jobs.jsonl", "--jobs", "0"});
    EXPECT_EQ(usage.code, -1);
    EXPECT_EQ(usage.err, "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]\n");
}

TEST_F(BatchTest, CancellationStopsRunningJobsAndReportsTheOthersAsNotRun) {
    ScriptDocuments(R"({"first.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 60000}})");
    std::string jobs = MakeDocuments({"first.docx", "second.docx", "third.docx", "fourth.xlsx"});
    pid_t batch = StartBatch(jobs, {"--jobs", "1"});
    ASSERT_TRUE(AwaitLog("message=Exporting PDF."));
    // The worker neither reads the job input nor writes into the result stream.
    std::set<long> workers = Numbers("worker_pid=");
    ASSERT_EQ(workers.size(), 1u);
    std::string workerFds = "/proc/" + std::to_string(*workers.begin()) + "/fd/";
    EXPECT_EQ(LinkTarget(workerFds + "0"), "/dev/null");
    EXPECT_EQ(LinkTarget(workerFds + "1"), LinkTarget("/proc/" + std::to_string(batch) + "/fd/2"));
    kill(batch, SIGTERM);
    m_exit = Wait(batch).code;
    std::map<std::string, Result> results = Results();
    EXPECT_EQ(m_exit, 1);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results["first.docx"].name, "timeout");
    EXPECT_EQ(results["first.docx"].hresult, "0x800704C7");
    EXPECT_EQ(results["first.docx"].message, "Conversion was cancelled.");
    for (const char* name : {"second.docx", "third.docx", "fourth.xlsx"}) {
        EXPECT_EQ(results[name].code, kTimeout) << name;
        EXPECT_EQ(results[name].stage, 0u);
        EXPECT_EQ(results[name].message, "Conversion was cancelled before it started.");
        EXPECT_FALSE(Exists(Path(std::string(name) + ".pdf")));
    }
    EXPECT_EQ(Count(Calls(), "Documents.Open("), 1u);
    ExpectNothingLeft();
}

// A batch killed with its workers (as a service manager does) leaves its temporary PDFs; the
// next run writing into their directory removes them.
TEST_F(BatchTest, AKilledBatchsTemporariesGoWithTheNextRunIntoTheirDirectory) {
    ScriptDocuments(R"({"first.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 60000},
                        "second.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 60000}})");
    pid_t batch = StartBatch(MakeDocuments({"first.docx", "second.docx"}), {"--jobs", "2"});
    m_started = {batch};
    for (int i = 0; i < 400 && Count(Log(), "message=Exporting PDF.") < 2; ++i) usleep(50000);
    ASSERT_EQ(Count(Log(), "message=Exporting PDF."), 2u) << Log();
    std::set<long> workers = Numbers("worker_pid=");
    kill(batch, SIGSTOP);
    for (long worker : workers) kill(static_cast<pid_t>(worker), SIGSTOP);
    for (long worker : workers) kill(static_cast<pid_t>(worker), SIGKILL);
    kill(batch, SIGKILL);
    waitpid(batch, nullptr, 0);
    m_started.clear();
    for (long pid : Numbers(" pid=")) {
        pid_t office = static_cast<pid_t>(pid);
        if (platform::ProcessImageName(office) == "winword.exe") kill(office, SIGKILL);
    }
    ASSERT_TRUE(TempFilesLeft());

    ScriptDocuments("{}");
    std::map<std::string, Result> results = Run(MakeDocuments({"third.docx"}), {});
    EXPECT_EQ(results["third.docx"].code, kSuccess);
    EXPECT_FALSE(TempFilesLeft());
    EXPECT_EQ(Count(Log(), "removed abandoned temporary path=" + m_dir + "/plx"), 2u);
}

// A stop request while a worker quits its office (here, a quit that never returns) stops the
// office at once instead of after the wait for a quit.
TEST_F(BatchTest, CancellationDuringAnOfficesQuitStopsItAtOnce) {
    Scenario(R"({"Word.Application": {"image": "winword.exe", "hangs": ["app.Quit"], "hangMs": 60000}})");
    pid_t batch = StartBatch(MakeDocuments({"a.docx"}), {"--jobs", "1"});
    ASSERT_TRUE(AwaitLog("message=Conversion completed."));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the worker is asked to quit
    auto signalled = std::chrono::steady_clock::now();
    kill(batch, SIGTERM);
    m_exit = Wait(batch).code;
    // Well inside the 15 s a quitting office is otherwise given.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(10));
    std::map<std::string, Result> results = Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results["a.docx"].name, "success") << results["a.docx"].message;
    EXPECT_TRUE(IsPdf("a.docx.pdf"));
    ExpectNothingLeft();
}

// A slot changing offices goes on with its next job while the old office quits, and a quit that
// never ends is still stopped after the 15 s it is given.
// Where one office process serves both ProgIDs (as LibreOffice does), a kept office takes
// documents and workbooks alike: kinds that alternate start no further office.
TEST_F(BatchTest, AnOfficeServingBothKindsIsKeptAcrossKindChanges) {
    Register("Word.Application = fake office.exe\nExcel.Application = fake office.exe\n");
    Scenario(R"({"Word.Application": {"sheets": [{"formula": "=1"}]},
                 "Excel.Application": {"sheets": [{"formula": "=1"}]}})");
    std::string jobs = MakeDocuments({"a.docx", "b.xlsx", "c.docx", "d.xls", "e.rtf", "f.xlsx"});
    std::map<std::string, Result> results = Run(jobs, {"--jobs", "1"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    ASSERT_EQ(results.size(), 6u);
    for (const auto& [name, result] : results) EXPECT_EQ(result.name, "success") << name;
    EXPECT_EQ(Count(Log(), "Creating "), 1u) << Log();
    EXPECT_EQ(Numbers(" pid=").size(), 1u);
    EXPECT_EQ(Count(Calls(), "Documents.Open("), 3u);
    EXPECT_EQ(Count(Calls(), "Workbooks.Open("), 3u);
    // The office started for a document was told not to update the links of the workbooks to come.
    EXPECT_EQ(Count(Calls(), "app.AskToUpdateLinks=false"), 1u);
    EXPECT_EQ(Count(Calls(), "app.Quit()"), 1u);
    ExpectNothingLeft();

    // Two slots: each keeps the office it started, whatever the kinds that follow.
    results = Run(MakeDocuments({"g.xlsx", "h.docx", "i.xlsx", "j.docx", "k.xlsx", "l.docx", "m.xls"}), {"--jobs", "2"});
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    EXPECT_EQ(results.size(), 7u);
    EXPECT_EQ(Count(Log(), "Creating "), 3u) << Log();  // the first run's one and these two
    ExpectNothingLeft();
}

TEST_F(BatchTest, ASlotChangingOfficesGoesOnWhileTheOldOneQuitsWithinItsTime) {
    Scenario(R"({"Word.Application": {"image": "winword.exe"},
                 "Excel.Application": {"image": "excel.exe", "sheets": [{"formula": "=1"}],
                                       "hangs": ["app.Quit"], "hangMs": 60000}})");
    auto started = std::chrono::steady_clock::now();
    pid_t batch = StartBatch(MakeDocuments({"a.xlsx", "b.docx", "c.docx"}), {"--jobs", "1"});
    bool wordDone = false;
    while (!wordDone && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
        std::map<std::string, Result> results = Results();
        wordDone = results.count("b.docx") && results.count("c.docx");
        if (!wordDone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(wordDone) << "the Word jobs waited for the workbook's office to quit";
    m_exit = Wait(batch).code;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_EQ(m_exit, 0) << ReadAll(Path("results.jsonl"));
    std::map<std::string, Result> results = Results();
    ASSERT_EQ(results.size(), 3u);
    for (const char* name : {"a.xlsx", "b.docx", "c.docx"}) {
        EXPECT_EQ(results[name].name, "success") << name;
        EXPECT_TRUE(IsPdf(std::string(name) + ".pdf")) << name;
    }
    ExpectNothingLeft();
}

TEST_F(BatchTest, AReaderThatTakesNoResultsHoldsUpNeitherJobsNorCancellation) {
    ScriptDocuments(R"({"hang.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 60000}})");
    std::string jobs;
    for (int i = 1; i <= 40; ++i) {
        std::string name = "d" + std::to_string(i) + ".docx";
        WriteAll(Path(name), "PK scripted");
        jobs += Job(name, name + ".pdf");
    }
    WriteAll(Path("hang.docx"), "PK scripted");
    jobs += Job("hang.docx", "hang.pdf");
    // Standard output is a small pipe that nobody reads until the batch was cancelled.
    ASSERT_EQ(mkfifo(Path("results.fifo").c_str(), 0600), 0);
    int reader = open(Path("results.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GT(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    WriteAll(Path("jobs.jsonl"), jobs);
    pid_t batch = Start({"--batch", "jobs.jsonl", "--jobs", "1"}, {"TMPDIR=" + m_tmp}, "stderr.txt", "results.fifo");
    bool hangStarted = false;
    for (int i = 0; i < 400 && !hangStarted; ++i) {
        std::string request = RequestOf("hang.docx");
        hangStarted = !request.empty() && Log().find(request + " provider=ms worker_pid=") != std::string::npos;
        if (!hangStarted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(hangStarted) << "the jobs stopped while their results waited for the reader";
    kill(batch, SIGTERM);
    // The offices end while the results still wait for the reader.
    std::set<long> offices = Numbers(" pid=");
    EXPECT_FALSE(offices.empty());
    bool officesGone = false;
    for (int i = 0; i < 400 && !officesGone; ++i) {
        officesGone = true;
        for (long pid : offices) officesGone = officesGone && !platform::ProcessAlive(static_cast<pid_t>(pid));
        if (!officesGone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(officesGone) << "cancellation waited for the reader";
    fcntl(reader, F_SETFL, 0);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    close(reader);
    m_exit = Wait(batch).code;
    EXPECT_EQ(m_exit, 1);
    EXPECT_EQ(Count(out, "\n"), 41u);
    EXPECT_EQ(Count(out, "\"name\":\"success\""), 40u);
    EXPECT_NE(out.find("\"message\":\"Conversion was cancelled.\""), std::string::npos);
    EXPECT_FALSE(Exists(Path("hang.pdf")));
}

// Results that nobody can take (a full device, a closed descriptor, a reader gone as in
// `| true`) stop the batch: no further job starts, the running one is cancelled with its
// cleanup, and the exit code is output_failed instead of a success.
TEST_F(BatchTest, ResultsThatCannotBeWrittenStopTheBatch) {
    ScriptDocuments(R"({"hang.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 20000}})");
    WriteAll(Path("jobs.jsonl"),
             MakeDocuments({"a.docx", "hang.docx", "c.docx", "d.docx", "e.docx"}));
    int gone[2];
    ASSERT_EQ(pipe2(gone, O_CLOEXEC), 0);
    close(gone[0]);
    const std::vector<std::pair<std::string, std::function<void(posix_spawn_file_actions_t&)>>>
        outputs = {
            {"closed",
             [](posix_spawn_file_actions_t& a) { posix_spawn_file_actions_addclose(&a, 1); }},
            {"read-only",
             [](posix_spawn_file_actions_t& a) {
                 posix_spawn_file_actions_addopen(&a, 1, "/dev/null", O_RDONLY, 0);
             }},
            {"/dev/full",
             [](posix_spawn_file_actions_t& a) {
                 posix_spawn_file_actions_addopen(&a, 1, "/dev/full", O_WRONLY, 0);
             }},
            {"reader gone",
             [&](posix_spawn_file_actions_t& a) {
                 posix_spawn_file_actions_adddup2(&a, gone[1], 1);
             }},
        };
    for (const auto& output : outputs) {
        size_t opened = Count(Calls(), "Documents.Open(");
        pid_t batch = Start({"--batch", "jobs.jsonl", "--jobs", "1"}, {"TMPDIR=" + m_tmp},
                            "stderr.txt", "", output.second);
        Outcome run = Wait(batch);
        EXPECT_EQ(run.code, kOutputFailed) << output.first;
        EXPECT_EQ(run.err, "Unable to write the batch results.\n") << output.first;
        size_t jobsOpened = Count(Calls(), "Documents.Open(") - opened;
        if (output.first == "closed" || output.first == "read-only")
            EXPECT_EQ(jobsOpened, 0u) << output.first << ": refused before any job";
        else
            EXPECT_LE(jobsOpened, 2u)
                << output.first << ": jobs went on after their results were lost";
        for (const char* name : {"hang.docx", "c.docx", "d.docx", "e.docx"})
            EXPECT_FALSE(Exists(Path(std::string(name) + ".pdf"))) << output.first << " " << name;
    }
    close(gone[1]);
    EXPECT_EQ(Count(Log(), "batch results cannot be written ("), 2u);
    ExpectNothingLeft();
}

// Job lines are read only as workers free up for them: with one worker busy, at most the jobs
// that may wait (64) and one read's worth of lines are taken from a long list.
TEST_F(BatchTest, JobLinesAreReadOnlyAsWorkersFreeUp) {
    ScriptDocuments(R"({"hang.docx": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 60000}})");
    MakeDocuments({"hang.docx"});
    ASSERT_EQ(mkfifo(Path("jobs.fifo").c_str(), 0600), 0);
    pid_t batch = Start({"--batch", "jobs.fifo", "--jobs", "1"}, {"TMPDIR=" + m_tmp}, "stderr.txt",
                        "results.jsonl");
    int input = open(Path("jobs.fifo").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(input, 0);
    std::string first = Job("hang.docx", "hang.pdf");
    ASSERT_EQ(write(input, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    ASSERT_TRUE(AwaitLog("message=Exporting PDF."));
    // 2000 more lines of 2 KB: they are written for as long as the batch takes them.
    const size_t lineBytes = 2048, lines = 2000;
    std::string tail = "\"target\": \"d.pdf\"}\n";
    std::string line = "{\"source\": \"d.docx\"," + std::string(lineBytes, ' ');
    line.resize(lineBytes - tail.size());
    line += tail;
    ASSERT_EQ(line.size(), lineBytes);
    std::string rest;
    for (size_t i = 0; i < lines; ++i) rest += line;
    fcntl(input, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    while (written < rest.size()) {
        ssize_t n = write(input, rest.data() + written, rest.size() - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        struct pollfd out = {input, POLLOUT, 0};
        if (poll(&out, 1, 3000) <= 0) break;  // the batch takes no more
    }
    EXPECT_LT(written, rest.size()) << "the batch read the whole list ahead of its worker";
    kill(batch, SIGTERM);
    m_exit = Wait(batch).code;
    close(input);
    std::map<std::string, Result> results = Results();
    EXPECT_EQ(m_exit, 1);
    EXPECT_EQ(results["hang.docx"].message, "Conversion was cancelled.");
    // The running job, the 64 waiting for the worker, and what one read of 64 KB held.
    EXPECT_GE(m_lines, 65u);
    EXPECT_LE(m_lines, 1 + 64 + 65536 / lineBytes + 1) << "lines were read ahead of the workers";
    EXPECT_EQ(Count(ReadAll(Path("results.jsonl")),
                    "\"message\":\"Conversion was cancelled before it started.\""),
              m_lines - 1);
    ExpectNothingLeft();
}

// A job's id comes back in its result line, a refused line's too; a misspelt member refuses
// its line instead of being ignored.
TEST_F(BatchTest, JobIdsComeBackAndMisspeltMembersAreRefused) {
    MakeDocuments({"a.docx", "b.docx"});
    std::string jobs = R"({"id": "order-17", "source": "a.docx", "target": "a.pdf", "request": "crm-9.{a}"}
{"source": "b.docx", "target": "b.pdf", "id": 42}
{"id": "order-18", "source": "b.docx", "taget": "c.pdf"}
{"source": "b.docx", "target": "d.pdf", "Provider": "wps"}
)";
    Run(jobs, {"--jobs", "1"});
    EXPECT_EQ(m_exit, 1);
    std::istringstream out(ReadAll(Path("results.jsonl")));
    std::map<size_t, rapidjson::Document> byLine;
    for (std::string text; std::getline(out, text);) {
        rapidjson::Document doc;
        doc.Parse(text.c_str());
        ASSERT_FALSE(doc.HasParseError()) << text;
        size_t line = doc["line"].GetUint();
        byLine[line] = std::move(doc);
    }
    ASSERT_EQ(byLine.size(), 4u);
    EXPECT_EQ(std::string(byLine[1]["id"].GetString()), "order-17");
    EXPECT_EQ(byLine[1]["code"].GetInt(), kSuccess);
    EXPECT_EQ(byLine[2]["id"].GetInt(), 42);
    EXPECT_EQ(byLine[2]["code"].GetInt(), kSuccess);
    EXPECT_EQ(std::string(byLine[3]["id"].GetString()), "order-18");
    EXPECT_EQ(byLine[3]["code"].GetInt(), kInvalidArguments);
    EXPECT_EQ(std::string(byLine[3]["message"].GetString()),
              "Job line 3 has the unknown member \"taget\".");
    EXPECT_FALSE(byLine[4].HasMember("id"));
    EXPECT_EQ(std::string(byLine[4]["message"].GetString()),
              "Job line 4 has the unknown member \"Provider\".");
    EXPECT_TRUE(IsPdf("a.pdf") && IsPdf("b.pdf"));
    EXPECT_FALSE(Exists(Path("c.pdf")) || Exists(Path("d.pdf")));
    // The job's own request id names its log lines.
    std::string log = Log();
    EXPECT_NE(log.find("request=crm-9.{a} source="), std::string::npos);
    EXPECT_NE(log.find("request=crm-9.{a} completed provider=ms result=success"), std::string::npos);
}

TEST(BatchJobs, JobRecordsRoundTripAndMalformedOnesAreRefused) {
    int readEnd = -1, writeEnd = -1;
    ASSERT_TRUE(platform::CreateJobPipe(readEnd, writeEnd));
    JobRecord sent{Provider::Wps, DocumentKind::Workbook, std::string("/a/b\xFF c.xls"), "/t/plx12345.pdf"};
    ASSERT_TRUE(WriteJob(writeEnd, sent));
    std::string bad = EncodeJob(sent);
    bad[8] = 3;  // no such document kind
    ASSERT_EQ(write(writeEnd, bad.data(), bad.size()), static_cast<ssize_t>(bad.size()));
    JobRecord got;
    ASSERT_TRUE(ReadJob(readEnd, got));
    EXPECT_EQ(got.provider, Provider::Wps);
    EXPECT_EQ(got.kind, DocumentKind::Workbook);
    EXPECT_EQ(got.source, sent.source);
    EXPECT_EQ(got.output, sent.output);
    EXPECT_FALSE(ReadJob(readEnd, got));
    close(writeEnd);
    EXPECT_FALSE(ReadJob(readEnd, got));  // end of the stream
    close(readEnd);
}

// Lines become jobs as they are read: blank ones are skipped, CR LF ends a line, an overlong
// line is refused on its own, and a last line without its line end still counts.
TEST(BatchJobs, FeedSplitsLinesAndRefusesOverlongOnes) {
    char name[] = "/tmp/parlux-feed-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    std::string text = "{\"source\": \"a.docx\", \"target\": \"a.pdf\"}\r\n\n  \n" +
                       std::string(1100000, 'x') + "\n{\"source\": \"b.xlsx\", \"target\": \"b.pdf\"}";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
    std::vector<std::string> refused;
    batch::JobFeed feed(fd, [&](batch::BatchJob* job) {
        refused.push_back(job->input.error);
        delete job;
    });
    std::deque<batch::BatchJob*> queue;
    for (int i = 0; i < 100 && !feed.Ended(); ++i) feed.Fill(queue, 100, true);
    EXPECT_TRUE(feed.Ended());
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0]->input.source, "a.docx");
    EXPECT_EQ(queue[1]->input.line, 5u);
    EXPECT_EQ(queue[1]->kind, DocumentKind::Workbook);
    EXPECT_EQ(refused, std::vector<std::string>{"Job line 4 is longer than 1048576 bytes."});
    for (batch::BatchJob* job : queue) delete job;
    close(fd);
}

// What decides that an office has grown too large: the memory it holds, not what it reserved.
TEST(BatchJobs, ResidentSizeOfAProcess) {
    const size_t size = 64 << 20;
    uint64_t before = platform::ProcessResidentBytes(getpid());
    EXPECT_GT(before, 1u << 20);
    void* reserved = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(reserved, MAP_FAILED);
    EXPECT_LT(platform::ProcessResidentBytes(getpid()), before + size / 4);
    std::memset(reserved, 1, size);
    EXPECT_GT(platform::ProcessResidentBytes(getpid()), before + size / 4 * 3);
    munmap(reserved, size);
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(platform::ProcessResidentBytes(child), 0u);
}

TEST(BatchJobs, ReportsAreValidJsonWhateverTheirBytes) {
    batch::JobReport report;
    report.line = 3;
    report.hasSource = report.hasTarget = true;
    report.source = "a\"b\\c\n\x01.docx";
    report.target = "bad\xC3(.pdf";  // not UTF-8: no valid JSON string holds it
    report.code = kExportFailed;
    report.stage = 7;
    report.hr = static_cast<int32_t>(0x800706BA);
    report.message = "Office reported a PDF export failure.";
    std::string line = batch::FormatReport(report);
    rapidjson::Document doc;
    doc.Parse(line.c_str());
    ASSERT_FALSE(doc.HasParseError()) << line;
    EXPECT_EQ(std::string(doc["source"].GetString()), report.source);
    EXPECT_TRUE(doc["target"].IsNull());
    EXPECT_EQ(std::string(doc["name"].GetString()), "export_failed");
    EXPECT_EQ(std::string(doc["hresult"].GetString()), "0x800706BA");
    EXPECT_EQ(line.find('\n'), std::string::npos);

    batch::JobLine job =
        batch::ParseJobLine(R"({"source": "a.docx", "target": "b.pdf", "provider": "WPS"})", 1);
    EXPECT_TRUE(job.valid);
    EXPECT_EQ(job.providerArg, "wps");
    EXPECT_TRUE(job.id.empty());
    EXPECT_FALSE(batch::ParseJobLine(R"({"source": "a.docx", "target": "b.pdf", "provider": 1})", 2).valid);
    EXPECT_FALSE(batch::ParseJobLine(R"({"source": "\ud800.docx", "target": "b.pdf"})", 3).valid);
}

// A job's id comes back in its result as the job gave it, also when the line is refused; any
// member the job format does not know refuses the line.
TEST(BatchJobs, IdsAreEchoedAndUnknownMembersRefused) {
    auto reportOf = [](const batch::JobLine& job) {
        batch::JobReport report;
        report.line = job.line;
        report.id = job.id;
        report.hasSource = job.hasSource;
        report.hasTarget = job.hasTarget;
        report.source = job.source;
        report.target = job.target;
        report.code = job.valid ? kSuccess : kInvalidArguments;
        report.message = job.error;
        rapidjson::Document doc;
        doc.Parse(batch::FormatReport(report).c_str());
        EXPECT_FALSE(doc.HasParseError());
        return doc;
    };
    batch::JobLine named = batch::ParseJobLine(
        R"({"id": "job \"7\" \u00e9", "source": "a.docx", "target": "b.pdf"})", 1);
    ASSERT_TRUE(named.valid);
    rapidjson::Document doc = reportOf(named);
    ASSERT_TRUE(doc.HasMember("id"));
    EXPECT_EQ(std::string(doc["id"].GetString()), "job \"7\" \xC3\xA9");
    doc = reportOf(
        batch::ParseJobLine(R"({"source": "a.docx", "target": "b.pdf", "id": 12345678901})", 2));
    EXPECT_EQ(doc["id"].GetUint64(), 12345678901u);
    EXPECT_FALSE(reportOf(batch::ParseJobLine(R"({"source": "a.docx", "target": "b.pdf"})", 3))
                     .HasMember("id"));

    batch::JobLine misspelt =
        batch::ParseJobLine(R"({"id": 9, "source": "a.docx", "traget": "b.pdf"})", 4);
    EXPECT_FALSE(misspelt.valid);
    EXPECT_EQ(misspelt.error, "Job line 4 has the unknown member \"traget\".");
    doc = reportOf(misspelt);
    EXPECT_EQ(doc["id"].GetInt(), 9) << "the refusal names the job";
    EXPECT_EQ(std::string(doc["source"].GetString()), "a.docx");
    batch::JobLine extra =
        batch::ParseJobLine(R"({"source": "a.docx", "target": "b.pdf", "provder": "wps"})", 5);
    EXPECT_EQ(extra.error, "Job line 5 has the unknown member \"provder\".");
    std::string longName(100, 'x');
    longName.replace(60, 2, "\xC3\xA9");  // the cut falls inside this character
    batch::JobLine overlong =
        batch::ParseJobLine("{\"" + longName + "\": 1, \"source\": \"a\", \"target\": \"b\"}", 6);
    EXPECT_EQ(overlong.error,
              "Job line 6 has the unknown member \"" + std::string(60, 'x') + "...\".");
    for (const char* odd : {R"({"id": [1], "source": "a.docx", "target": "b.pdf"})",
                            R"({"id": null, "source": "a", "target": "b"})"}) {
        batch::JobLine bad = batch::ParseJobLine(odd, 7);
        EXPECT_EQ(bad.error, "Job line 7 has an \"id\" that is neither a string nor a number.")
            << odd;
        EXPECT_TRUE(bad.id.empty());
    }
    // A request id must be safe in every log line.
    EXPECT_EQ(batch::ParseJobLine(R"({"source": "a", "target": "b", "request": "lb-42:{x}_y.z"})", 8).request,
              "lb-42:{x}_y.z");
    for (const std::string& odd : {std::string(R"("a b")"), std::string(R"("")"), std::string("7"),
                                   "\"" + std::string(129, 'r') + "\"", std::string(R"("a\u0000b")")}) {
        batch::JobLine bad = batch::ParseJobLine(R"({"source": "a", "target": "b", "request": )" + odd + "}", 9);
        EXPECT_EQ(bad.error, "Job line 9 has a \"request\" that cannot name a request.") << odd;
    }
}

}  // namespace
}  // namespace parlux
