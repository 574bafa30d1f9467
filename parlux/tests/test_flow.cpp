// The parlux program end to end: arguments, source checks, providers, supervision and cleanup,
// with the scripted office suite as the back end.
#include <dirent.h>

#include <set>

#include "compound_fixture.h"
#include "converter_run.h"
#include "platform/pipes.h"
#include "platform/processes.h"
#include "supervisor.h"

namespace parlux {
namespace {

using namespace parlux::testing;

class ConverterTest : public ConverterRun {
protected:
    void SetUp() override {
        ConverterRun::SetUp();
        Register("Word.Application = fake winword.exe\nExcel.Application = fake excel.exe\n"
                 "KWPS.Application = fake wps.exe\nKET.Application = fake et.exe\n");
        Scenario(R"({"Word.Application": {"image": "winword.exe"}, "KWPS.Application": {"image": "wps.exe"},
                     "Excel.Application": {"image": "excel.exe", "sheets": [{"formula": "=1"}]}})");
    }
};

TEST_F(ConverterTest, ArgumentErrorsPrintTheirLineAndLogOnlyTheClosingWarning) {
    Outcome none = Convert({});
    EXPECT_EQ(none.code, -1);
    EXPECT_EQ(none.err, "Usage: Parlux.exe source_file target_pdf [ms|wps]\n");
    Outcome five = Convert({"a.docx", "b.pdf", "ms", "extra"});
    EXPECT_EQ(five.code, -1);
    EXPECT_EQ(Count(Log(), "\n"), 2u);
    EXPECT_EQ(Count(Log(), "WARN  - conversion rejected before or between providers result=invalid_arguments\r\n"), 2u);

    Outcome word = Convert({"report.docx", "out.pdf", "office"});
    EXPECT_EQ(word.code, -1);
    EXPECT_EQ(word.err, "Provider must be 'ms' or 'wps'.\n");

    Register("");  // nothing registered: WPS in capitals is accepted, then has no class
    Outcome caps = Convert({"report.docx", "out.pdf", "WPS"});
    EXPECT_EQ(caps.code, kProviderUnavailable);
    EXPECT_EQ(caps.err, "");
    EXPECT_NE(Log().find("explicit_provider=wps\r\n"), std::string::npos);
    EXPECT_FALSE(Exists(Path("out.pdf")));
}

// --help and --version answer on standard output with 0; "--" ends the options, so documents
// named like options still convert; options take the "--opt=value" form too; the conversion's
// own command line keeps its codes and prints nothing on standard output.
TEST_F(ConverterTest, HelpVersionAndTheEndOfTheOptions) {
    std::string out;
    auto run = [&](const std::vector<std::string>& args) {
        Outcome outcome = Wait(Start(args, {}, "stderr.txt", "stdout.txt"));
        out = ReadAll(Path("stdout.txt"));
        return outcome;
    };
    for (const char* help : {"--help", "-h"}) {
        Outcome shown = run({help});
        EXPECT_EQ(shown.code, 0) << help;
        EXPECT_EQ(shown.err, "");
        EXPECT_EQ(out.rfind("Usage: parlux source_file target_pdf [ms|wps]\n", 0), 0u) << out;
        EXPECT_NE(out.find("success is 1"), std::string::npos);
    }
    for (const std::vector<std::string>& version :
         {std::vector<std::string>{"--version"}, {"--version", "--batch"}}) {
        EXPECT_EQ(run(version).code, 0);
        EXPECT_EQ(out.rfind("parlux ", 0), 0u) << out;
        EXPECT_EQ(Count(out, "\n"), 1u);
    }
    EXPECT_FALSE(Exists(Path("Logs/convertLog.txt"))) << "help and version are no conversions";

    WriteAll(Path("--help.docx"), ReadAll(Path("report.docx")));
    Outcome named = run({"--", "--help.docx", "--version.pdf"});
    EXPECT_EQ(named.code, kSuccess) << named.err;
    EXPECT_EQ(ReadAll(Path("--version.pdf")).rfind("%PDF-", 0), 0u);
    WriteAll(Path("--help"), "no extension");
    EXPECT_EQ(run({"--", "--help", "out.pdf"}).code, kUnsupportedFormat);
    EXPECT_NE(Log().find(" source=" + Path("--help") + " target="), std::string::npos);

    WriteAll(Path("jobs.jsonl"), R"({"source": "report.docx", "target": "batch.pdf"})"
                                 "\n");
    for (const std::vector<std::string>& batch :
         {std::vector<std::string>{"--batch", "jobs.jsonl", "--jobs=2"},
          {"--recycle=1", "--batch=jobs.jsonl"}}) {
        Outcome ran = run(batch);
        EXPECT_EQ(ran.code, 0) << batch[0] << " " << ran.err;
        EXPECT_NE(out.find("\"code\":1,"), std::string::npos) << out;
    }

    const std::vector<std::pair<std::vector<std::string>, const char*>> refused = {
        {{"--bogus", "report.docx", "out.pdf"},
         "Usage: Parlux.exe source_file target_pdf [ms|wps]\n"},
        {{"--jobs", "2", "report.docx", "out.pdf"},
         "Usage: Parlux.exe source_file target_pdf [ms|wps]\n"},
        {{"report.docx"}, "Usage: Parlux.exe source_file target_pdf [ms|wps]\n"},
        {{"--batch=jobs.jsonl", "more.jsonl"},
         "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]\n"},
        {{"--batch", "--jobs"}, "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]\n"},
    };
    for (const auto& line : refused) {
        Outcome wrong = run(line.first);
        EXPECT_EQ(wrong.code, kInvalidArguments) << line.first[0];
        EXPECT_EQ(wrong.err, line.second) << line.first[0];
        EXPECT_EQ(out, "");
    }
    EXPECT_EQ(run({"report.docx", "out.pdf"}).code, kSuccess);
    EXPECT_EQ(out, "") << "a conversion writes nothing on standard output";
}

TEST_F(ConverterTest, SourcesRejectedBeforeAnyWorkerRuns) {
    WriteAll(Path("notes.txt"), "text");
    EXPECT_EQ(Convert({"notes.txt", "out.pdf"}).code, kUnsupportedFormat);
    std::string log = Log();
    EXPECT_EQ(Count(log, "\n"), 2u) << log;
    EXPECT_NE(log.find("result=unsupported_format"), std::string::npos);

    WriteAll(Path("sheet.et"), "x");
    EXPECT_EQ(Convert({"sheet.et", "out.pdf", "ms"}).code, kUnsupportedFormat);
    EXPECT_EQ(Convert({"report.docx", "./sub/../report.docx"}).code, kOutputFailed);
    EXPECT_EQ(Convert({"missing.docx", "out.pdf"}).code, kSourceUnavailable);
    WriteAll(Path("locked.docx"), ReadAll(Path("report.docx")));
    WriteAll(Path(".~lock.locked.docx#"), "someone,host,someone,09.12.2026 10:00,file:///home/someone;");
    int holder = open(Path(".~lock.locked.docx#").c_str(), O_RDONLY);  // the editing office keeps it open
    EXPECT_EQ(Convert({"locked.docx", "out.pdf"}).code, kSourceBusy);
    close(holder);
    // A FIFO named like a document is refused without blocking (no writer will ever come).
    ASSERT_EQ(mkfifo(Path("pipe.docx").c_str(), 0600), 0);
    EXPECT_EQ(Convert({"pipe.docx", "out.pdf"}).code, kSourceUnavailable);
    // A target naming a directory, existing or not, never becomes a file of that name.
    mkdir(Path("existing").c_str(), 0755);
    EXPECT_EQ(Convert({"report.docx", "newdir/"}).code, kOutputFailed);
    EXPECT_EQ(Convert({"report.docx", "existing/"}).code, kOutputFailed);
    EXPECT_EQ(Convert({"report.docx", "existing"}).code, kOutputFailed);
    EXPECT_FALSE(Exists(Path("newdir")));
    EXPECT_EQ(Count(ReadAll(Path("stderr.txt")), "\n"), 0u);
    WriteAll(Path("secret.docx"), CompoundFileBytes({"EncryptionInfo", "EncryptedPackage"}));
    Outcome secret = Convert({"secret.docx", "out.pdf"});
    EXPECT_EQ(secret.code, kPasswordProtected);
    EXPECT_EQ(secret.err, "");
    EXPECT_EQ(Log().find("worker_pid="), std::string::npos);
    EXPECT_FALSE(Exists(Path("calls.log")));
    EXPECT_FALSE(Exists(Path("out.pdf")));
}

TEST_F(ConverterTest, ConvertsAndCommitsAValidPdfAndQuitsItsOffice) {
    // Without a home in the environment (a system service) it runs the same.
    Outcome homeless = Convert({"report.docx", "first.pdf"}, {"HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"});
    EXPECT_EQ(homeless.code, kSuccess) << homeless.err << Log();
    Outcome run = Convert({"report.docx", "out.pdf"});
    ASSERT_EQ(run.code, kSuccess) << run.err << Log();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadAll(Path("out.pdf")).rfind("%PDF-", 0), 0u);
    EXPECT_FALSE(TempFilesLeft());
    std::string calls = Calls();
    EXPECT_NE(calls.find("app.Visible=false\napp.DisplayAlerts=0\napp.AutomationSecurity=3\n"), std::string::npos);
    EXPECT_NE(calls.find("Documents.Open(\"" + Path("report.docx") + "\",false,true,false"), std::string::npos);
    EXPECT_NE(calls.find("doc.Close(false)"), std::string::npos) << calls;
    EXPECT_NE(calls.find("app.Quit()"), std::string::npos);
    std::string log = Log();
    EXPECT_NE(log.find("owned=true message=Application created and process ownership verified."), std::string::npos);
    EXPECT_NE(log.find("completed provider=ms result=success"), std::string::npos);
    EXPECT_EQ(log.find("conversion rejected"), std::string::npos);
    EXPECT_FALSE(platform::ProcessAlive(OfficePid(log)));
}

TEST_F(ConverterTest, FallsBackOnOpenFailureButNotOnPassword) {
    Scenario(R"({"Word.Application": {"image": "winword.exe",
                                      "failures": {"Documents.Open": [-2146823114, "Word could not open the file."]}},
                 "KWPS.Application": {"image": "wps.exe"}})");
    Outcome run = Convert({"report.docx", "out.pdf"});
    ASSERT_EQ(run.code, kSuccess) << run.err;
    std::string log = Log();
    EXPECT_NE(log.find("fallback_from=ms reason=open_failed"), std::string::npos);
    EXPECT_NE(log.find("completed provider=wps result=success"), std::string::npos);

    Scenario(R"({"Word.Application": {"image": "winword.exe",
                                      "failures": {"Documents.Open": [-2146822880, "The password is incorrect."]}},
                 "KWPS.Application": {"image": "wps.exe"}})");
    Outcome secret = Convert({"report.docx", "other.pdf"});
    EXPECT_EQ(secret.code, kPasswordProtected);
    EXPECT_EQ(secret.err.rfind("Parlux failed: password_protected (2), stage=5, HRESULT=0x800A1520", 0), 0u)
        << secret.err;
    EXPECT_EQ(Count(Log(), "provider=wps worker_pid="), 1u);
    EXPECT_FALSE(Exists(Path("other.pdf")));

    Outcome explicitMs = Convert({"report.docx", "third.pdf", "ms"});
    EXPECT_EQ(explicitMs.code, kPasswordProtected);
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(ConverterTest, ASuccessWithoutAPdfNeverReachesTheTarget) {
    Scenario(R"({"Word.Application": {"image": "winword.exe", "exportWritesPdf": false}})");
    Register("Word.Application = fake winword.exe\n");
    WriteAll(Path("out.pdf"), "the previous target");
    Outcome run = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(run.code, kOutputFailed);
    EXPECT_NE(run.err.find("Parlux failed: output_failed (12), stage=10, HRESULT="), std::string::npos);
    EXPECT_NE(run.err.find(", Generated PDF could not be validated or committed.\n"), std::string::npos);
    EXPECT_EQ(ReadAll(Path("out.pdf")), "the previous target");
    EXPECT_FALSE(TempFilesLeft());
}

TEST_F(ConverterTest, EmptyWorkbookEndsTheRunWithoutFallback) {
    Scenario(R"({"Excel.Application": {"image": "excel.exe", "sheets": [{"formula": ""}]},
                 "KET.Application": {"image": "et.exe", "sheets": [{"formula": "=1"}]}})");
    WriteAll(Path("book.xlsx"), "PK");
    Outcome run = Convert({"book.xlsx", "book.pdf"});
    EXPECT_EQ(run.code, kNoContent) << run.err;
    EXPECT_EQ(Log().find("provider=wps"), std::string::npos);
    EXPECT_FALSE(Exists(Path("book.pdf")));
}

TEST_F(ConverterTest, WorkerExitingWithoutAResult) {
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "exits": {"doc.ExportAsFixedFormat": 7}}})");
    Outcome seven = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(seven.code, kNoContent);
    EXPECT_EQ(seven.err, "Parlux failed: no_content (7), stage=7, HRESULT=0x8007042B, "
                         "Worker exited without a complete result message.\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "exits": {"doc.ExportAsFixedFormat": 42}}})");
    Outcome other = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(other.code, kInternalError);
    // A worker that dies with status 1 (as the sanitizers exit) has not succeeded.
    Scenario(R"({"Word.Application": {"image": "winword.exe", "exits": {"doc.ExportAsFixedFormat": 1}}})");
    Outcome one = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(one.code, kInternalError);
    EXPECT_NE(one.err.find("internal_error (13), stage=7, HRESULT=0x8007042B"), std::string::npos) << one.err;
    EXPECT_FALSE(Exists(Path("out.pdf")));
}

TEST_F(ConverterTest, HangingWorkerIsCancelledTerminatedAndItsOfficeStopped) {
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "hangs": ["doc.ExportAsFixedFormat"]}})");
    Outcome run = Convert({"report.docx", "out.pdf"}, {"PARLUX_TIMEOUT_MS=1000"});
    EXPECT_EQ(run.code, kTimeout);
    EXPECT_EQ(run.err, "Parlux failed: timeout (10), stage=7, HRESULT=0x80070102, "
                       "Conversion exceeded the configured timeout.\n");
    std::string log = Log();
    EXPECT_NE(log.find("provider=ms worker timeout; cancellation requested"), std::string::npos);
    EXPECT_NE(log.find("timeout_ms=1000"), std::string::npos);
    EXPECT_FALSE(platform::ProcessAlive(OfficePid(log)));
    EXPECT_FALSE(Exists(Path("out.pdf")));
    EXPECT_FALSE(TempFilesLeft());
}

// A worker that notices the cancellation in time quits its office itself and is not killed.
TEST_F(ConverterTest, CancelledWorkerStopsAfterOpeningAndQuits) {
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "hangs": ["Documents.Open"], "hangMs": 1800}})");
    Outcome run = Convert({"report.docx", "out.pdf"}, {"PARLUX_TIMEOUT_MS=1000"});
    EXPECT_EQ(run.code, kTimeout);
    // The stage is the last one reported: the worker got as far as quitting.
    EXPECT_NE(run.err.find("stage=9, HRESULT=0x80070102"), std::string::npos) << run.err;
    std::string calls = Calls();
    EXPECT_EQ(calls.find("ExportAsFixedFormat"), std::string::npos) << calls;
    EXPECT_NE(calls.find("doc.Close(false)"), std::string::npos);
    EXPECT_NE(calls.find("app.Quit()"), std::string::npos);
    EXPECT_EQ(Log().find("terminated verified conversion process"), std::string::npos);
    EXPECT_FALSE(platform::ProcessAlive(OfficePid(Log())));
    EXPECT_FALSE(Exists(Path("out.pdf")));
}

TEST_F(ConverterTest, OfficeRefusingToQuitIsStoppedAfterRevalidation) {
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "failures": {"app.Quit": [-2147417848, "gone"]}}})");
    Outcome run = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(run.code, kCleanupFailed);
    EXPECT_NE(run.err.find("stage=9, HRESULT=0x80010108"), std::string::npos) << run.err;
    // The scripted office survives its failed Quit; the supervisor closes it (SIGTERM ends sleep).
    EXPECT_NE(Calls().find("app.Quit()"), std::string::npos);
    EXPECT_FALSE(platform::ProcessAlive(OfficePid(Log())));
    EXPECT_FALSE(Exists(Path("out.pdf")));
}

TEST_F(ConverterTest, AnOfficeThatWasAlreadyRunningIsNeverTouched) {
    mkdir(Path("bin").c_str(), 0755);
    pid_t running = StartNamedProcess(Path("bin"), "winword.exe");
    ASSERT_GT(running, 0);
    m_started.push_back(running);
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "preexistingPid": )" + std::to_string(running) + "}}");
    Outcome run = Convert({"report.docx", "out.pdf"});
    EXPECT_EQ(run.code, kSuccess) << run.err;
    EXPECT_NE(Log().find("pid=" + std::to_string(running) + " owned=false"), std::string::npos);
    EXPECT_TRUE(platform::ProcessAlive(running));
}

TEST_F(ConverterTest, AnOfficePidThatNowNamesAnotherImageIsLeftAloneAndFailsTheRun) {
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "imageChangesOnQuit": true}})");
    Outcome run = Convert({"report.docx", "out.pdf"});
    std::string log = Log();
    pid_t office = OfficePid(log);
    ASSERT_GT(office, 0) << log;
    m_started.push_back(office);
    EXPECT_EQ(run.code, kCleanupFailed);
    EXPECT_EQ(run.err, "Parlux failed: cleanup_failed (11), stage=9, HRESULT=0x80070005, "
                       "Unable to safely clean up the verified conversion process.\n");
    EXPECT_NE(log.find("cleanup skipped because process ownership could not be revalidated pid=" +
                       std::to_string(office)),
              std::string::npos);
    EXPECT_TRUE(platform::ProcessAlive(office));
    EXPECT_FALSE(Exists(Path("out.pdf")));
    EXPECT_FALSE(TempFilesLeft());
}

// A run killed with its worker leaves its temporary PDF; the next run into that directory removes
// it, but never a temporary of a run still writing nor a plx*.pdf this program did not make. The
// committed PDF has the mode a new file gets under the umask.
TEST_F(ConverterTest, TheNextRunRemovesAKilledRunsTemporaryOnly) {
    mode_t mask = umask(022);
    Register("Word.Application = fake winword.exe\n");
    Scenario(R"({"Word.Application": {"image": "winword.exe", "hangs": ["doc.ExportAsFixedFormat"]}})");
    auto temporaries = [&] {
        std::set<std::string> names;
        if (DIR* dir = opendir(m_dir.c_str())) {
            while (struct dirent* e = readdir(dir))
                if (std::string(e->d_name).rfind("plx", 0) == 0) names.insert(e->d_name);
            closedir(dir);
        }
        return names;
    };
    auto exporting = [&](size_t runs) {  // waits until that many runs are exporting
        for (int i = 0; i < 600 && Count(Log(), "message=Exporting PDF.") < runs; ++i) usleep(50000);
        return Count(Log(), "message=Exporting PDF.") >= runs;
    };
    // Its attempt directory, which nobody cleans up after a kill, stays in the test's directory.
    mkdir(Path("tmp").c_str(), 0700);
    pid_t killed =
        Start({"report.docx", "a.pdf"}, {"PARLUX_TIMEOUT_MS=60000", "TMPDIR=" + Path("tmp")}, "stderr-a.txt");
    m_started = {killed};
    ASSERT_TRUE(exporting(1)) << Log();
    std::string log = Log();
    pid_t worker = static_cast<pid_t>(std::atol(log.c_str() + log.find("worker_pid=") + 11));
    pid_t office = OfficePid(log);
    ASSERT_GT(worker, 0);
    // Stopped first, so neither cleans up after the other.
    kill(killed, SIGSTOP);
    kill(worker, SIGSTOP);
    kill(worker, SIGKILL);
    kill(killed, SIGKILL);
    waitpid(killed, nullptr, 0);
    m_started.clear();
    if (office > 0) kill(office, SIGKILL);
    std::set<std::string> left = temporaries();
    ASSERT_EQ(left.size(), 1u);
    std::string leftover = *left.begin();
    WriteAll(Path("plx12345.pdf"), "%PDF-1.4 not made by parlux");

    pid_t writing = Start({"report.docx", "b.pdf"}, {"PARLUX_TIMEOUT_MS=60000"}, "stderr-b.txt");
    m_started = {writing};
    ASSERT_TRUE(exporting(2)) << Log();
    std::set<std::string> now = temporaries();
    EXPECT_EQ(now.count(leftover), 0u) << leftover;
    EXPECT_EQ(now.count("plx12345.pdf"), 1u);
    ASSERT_EQ(now.size(), 2u);
    now.erase("plx12345.pdf");
    std::string live = *now.begin();
    EXPECT_NE(Log().find("removed abandoned temporary path=" + Path(leftover)), std::string::npos);

    Scenario(R"({"Word.Application": {"image": "winword.exe"}})");
    Outcome next = Convert({"report.docx", "c.pdf"});
    EXPECT_EQ(next.code, kSuccess) << next.err;
    EXPECT_EQ(temporaries(), (std::set<std::string>{"plx12345.pdf", live}));
    struct stat st;
    ASSERT_EQ(stat(Path("c.pdf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    kill(writing, SIGTERM);
    EXPECT_EQ(Wait(writing, "stderr-b.txt").code, kTimeout);
    m_started.clear();
    EXPECT_EQ(temporaries(), std::set<std::string>{"plx12345.pdf"});
    EXPECT_EQ(ReadAll(Path("plx12345.pdf")), "%PDF-1.4 not made by parlux");
    umask(mask);
}

// An office growing past the memory limit ends the attempt at once with the failure of the stage
// it was in; under a limit it fits, the same growth converts.
TEST_F(ConverterTest, PassingTheMemoryLimitFailsTheStageItWasIn) {
    Register("Word.Application = fake winword.exe\n");
    struct Case {
        const char* member;
        int code;
        const char* failure;
    };
    for (const Case& c : {Case{"Documents.Open", kOpenFailed, "open_failed (8), stage=5"},
                          Case{"doc.ActiveWindow", kInternalError, "internal_error (13), stage=6"},
                          Case{"doc.ExportAsFixedFormat", kExportFailed, "export_failed (9), stage=7"}}) {
        WriteAll(Path("Logs/convertLog.txt"), "");
        // Without the limit the call would go on for a minute and then succeed.
        Scenario(R"({"Word.Application": {"image": "winword.exe", "hangMs": 60000, "grows": {")" +
                 std::string(c.member) + R"(": 320}}})");
        Outcome run = Convert({"report.docx", "out.pdf"}, {"PARLUX_MEMORY_MB=256"});
        EXPECT_EQ(run.code, c.code) << c.member;
        EXPECT_EQ(run.err, "Parlux failed: " + std::string(c.failure) +
                               ", HRESULT=0x8007000E, Conversion exceeded the memory limit of 256 MB.\n");
        std::string log = Log();
        EXPECT_NE(log.find("provider=ms memory limit exceeded resident_mb="), std::string::npos) << log;
        EXPECT_NE(log.find(" limit_mb=256; cancellation requested"), std::string::npos);
        EXPECT_NE(Calls().find("app.Quit()"), std::string::npos) << "the worker was not told to stop";
        EXPECT_FALSE(platform::ProcessAlive(OfficePid(log)));
        EXPECT_FALSE(Exists(Path("out.pdf")));
        EXPECT_FALSE(TempFilesLeft());
    }
    // Its address space is far larger than the limit: only what it holds resident counts.
    Scenario(R"({"Word.Application": {"image": "winword.exe", "hangMs": 300,
                 "grows": {"doc.ExportAsFixedFormat": 320}}})");
    Outcome fits = Convert({"report.docx", "out.pdf"}, {"PARLUX_MEMORY_MB=512"});
    EXPECT_EQ(fits.code, kSuccess) << fits.err;
    EXPECT_EQ(ReadAll(Path("out.pdf")).rfind("%PDF-", 0), 0u);
}

// The messages a worker sends: malformed ones are dropped, a partial one waits for the rest.
TEST(WorkerPipe, DrainSkipsBadMessagesAndKeepsPartialOnes) {
    WorkerChannel channel;
    int writeEnd = -1;
    ASSERT_TRUE(platform::CreateWorkerPipe(channel.readEnd, writeEnd));
    channel.requestId = "{TEST}";
    ConversionProgress progress = NewProgress();
    progress.stage = kStageOpen;
    progress.pid = 77;
    SetMessage(progress.message, "Opening source document.");
    WorkerMessage badMagic = ProgressMessage(progress);
    badMagic.magic[0] = 'X';
    WorkerMessage badSize = ProgressMessage(progress);
    badSize.size = 1087;
    WorkerMessage otherKind = ProgressMessage(progress);
    otherKind.kind = 3;
    otherKind.progress.stage = kStageExport;
    ConversionResult sent = NewResult();
    sent.code = kExportFailed;
    sent.stage = kStageExport;
    WorkerMessage result = ResultMessage(sent);
    for (const WorkerMessage& m : {badMagic, badSize, otherKind, ProgressMessage(progress)})
        ASSERT_EQ(write(writeEnd, &m, sizeof m), static_cast<ssize_t>(sizeof m));
    ASSERT_EQ(write(writeEnd, &result, 500), 500);

    ConversionResult received = NewResult();
    drainWorkerPipe(channel, received);
    EXPECT_EQ(channel.lastProgress.stage, static_cast<uint32_t>(kStageOpen));
    EXPECT_EQ(channel.lastProgress.pid, 77u);
    EXPECT_FALSE(channel.resultReceived);
    EXPECT_EQ(received.code, kInternalError);

    ASSERT_EQ(write(writeEnd, reinterpret_cast<const char*>(&result) + 500, sizeof result - 500),
              static_cast<ssize_t>(sizeof result - 500));
    drainWorkerPipe(channel, received);
    EXPECT_TRUE(channel.resultReceived);
    EXPECT_EQ(received.code, kExportFailed);
    close(writeEnd);
    close(channel.readEnd);
}

// The supervisor's cleanup decides on a process it sees now, not on what the worker reported.
TEST_F(ConverterTest, CleanupRevalidatesImageAndStartTime) {
    setenv("PARLUX_CLASSES", Path("classes.conf").c_str(), 1);
    mkdir(Path("bin").c_str(), 0755);
    pid_t other = StartNamedProcess(Path("bin"), "notword");
    pid_t older = StartNamedProcess(Path("bin"), "winword.exe");
    m_started = {other, older};
    ASSERT_TRUE(other > 0 && older > 0);
    usleep(30000);
    uint64_t notBefore = platform::TicksNow() + 1;

    EXPECT_TRUE(cleanupOfficeProcess({static_cast<uint32_t>(older), false}, Provider::Microsoft,
                                     DocumentKind::WordDocument, notBefore, "{R}"));
    EXPECT_FALSE(cleanupOfficeProcess({static_cast<uint32_t>(other), true}, Provider::Microsoft,
                                      DocumentKind::WordDocument, 0, "{R}"));
    EXPECT_FALSE(cleanupOfficeProcess({static_cast<uint32_t>(older), true}, Provider::Microsoft,
                                      DocumentKind::WordDocument, notBefore, "{R}"));
    EXPECT_TRUE(platform::ProcessAlive(other));
    EXPECT_TRUE(platform::ProcessAlive(older));

    Stop(other);
    EXPECT_TRUE(cleanupOfficeProcess({static_cast<uint32_t>(other), true}, Provider::Microsoft,
                                     DocumentKind::WordDocument, 0, "{R}"));
    // The same process once it is the expected one: closed by SIGTERM after the grace wait.
    EXPECT_TRUE(cleanupOfficeProcess({static_cast<uint32_t>(older), true}, Provider::Microsoft,
                                     DocumentKind::WordDocument, 0, "{R}"));
    EXPECT_FALSE(platform::ProcessAlive(older));
}

}  // namespace
}  // namespace parlux
