// parlux.exe's own command line under wine: help, version, the end of the options, the batch
// and the service that Windows lacks, a failing COM initialisation and Ctrl-C.
#include <windows.h>

#include <gtest/gtest.h>

#include "office_test.h"

namespace {

// Standard output and error are in text mode: a line end is CR LF.
const std::string kEnd = "\r\n";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The run ended with `code` and printed the failure line of `result` for `message`.
void ExpectFailure(const rig::Run& run, int code, const std::string& result,
                   const std::string& message) {
    EXPECT_EQ(run.exitCode, code);
    EXPECT_EQ(run.err, "Parlux failed: " + result + ", " + message + kEnd);
}

class ProgramTest : public OfficeTest {
protected:
    std::string In(const std::string& name) { return m_dir + "\\" + name; }
    rig::Run Parlux(const std::wstring& arguments) { return rig::RunParlux(m_dir, arguments); }
};

TEST_F(ProgramTest, HelpVersionAndTheEndOfTheOptions) {
    for (const wchar_t* help : {L"--help", L"-h", L"a.docx --help"}) {
        rig::Run run = Parlux(help);
        EXPECT_EQ(run.exitCode, 0) << rig::Narrow(help);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("Usage: parlux source_file target_pdf [ms|wps]" + kEnd, 0), 0u)
            << run.out;
        EXPECT_TRUE(Contains(run.out, "success is 1")) << run.out;
    }
    rig::Run version = Parlux(L"--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("parlux ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find(kEnd), version.out.size() - kEnd.size()) << "one line";
    EXPECT_FALSE(rig::FileExists(In("Logs\\convertLog.txt"))) << "help and version convert nothing";

    // After "--" a name like an option is a document.
    rig::WriteFile(In("--help.docx"), "document bytes");
    rig::Run named = Parlux(L"-- " + rig::Quoted({In("--help.docx"), In("--version.pdf"), "ms"}));
    EXPECT_EQ(named.exitCode, 1) << named.err;
    EXPECT_EQ(named.out, "");
    EXPECT_EQ(rig::ReadFile(In("--version.pdf")).compare(0, 5, "%PDF-"), 0);

    for (const wchar_t* wrong : {L"--bogus a.docx b.pdf", L"--jobs=2 a.docx b.pdf", L"-x"}) {
        rig::Run run = Parlux(wrong);
        EXPECT_EQ(run.exitCode, -1) << rig::Narrow(wrong);
        EXPECT_EQ(run.err, "Usage: Parlux.exe source_file target_pdf [ms|wps]" + kEnd);
    }
    EXPECT_TRUE(Contains(rig::LogOf(m_dir),
                         "conversion rejected before or between providers result=invalid_arguments"));
}

// The pool of serving workers has no Win32 supervision: both forms say so rather than convert.
TEST_F(ProgramTest, BatchAndServiceAreRefusedWithTheirReason) {
    rig::WriteFile(In("jobs.jsonl"), "{\"source\": \"a.docx\", \"target\": \"a.pdf\"}\n");
    for (const std::wstring& batch :
         {L"--batch " + rig::Quoted({In("jobs.jsonl"), "--jobs", "2"}),
          rig::Quoted({"--batch=" + In("jobs.jsonl")})}) {
        rig::Run run = Parlux(batch);
        EXPECT_EQ(run.exitCode, -1);
        EXPECT_EQ(run.err, "parlux --batch is not available on Windows." + kEnd);
        EXPECT_EQ(run.out, "");
    }
    rig::Run serve = Parlux(L"serve --listen 127.0.0.1:0");
    EXPECT_EQ(serve.exitCode, -1);
    EXPECT_EQ(serve.err, "parlux serve is not available on Windows." + kEnd);
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

// A thread already in the multithreaded apartment cannot join the single-threaded one
// (RPC_E_CHANGED_MODE): every suite fails at stage 2 before any office starts.
TEST_F(ProgramTest, FailingComInitialisationIsInternalErrorBeforeAnyOffice) {
    std::string source = In("report.docx");
    rig::WriteFile(source, "document bytes");
    SetEnvironmentVariableW(L"PARLUX_TEST_COM_APARTMENT", L"multithreaded");
    rig::Run run = Parlux(rig::Quoted({source, In("out.pdf")}));
    ExpectFailure(run, 13, "internal_error (13), stage=2, HRESULT=0x80010106",
                  "Unable to initialize the STA COM apartment.");
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, " fallback_from=ms reason=internal_error")) << log;
    EXPECT_TRUE(Contains(log, " provider=wps result=internal_error hr=0x80010106")) << log;
    EXPECT_FALSE(rig::FileExists(source + ".calls")) << "an office was started";
    EXPECT_FALSE(rig::FileExists(In("out.pdf")));
}

BOOL WINAPI IgnoreCtrlC(DWORD event) { return event == CTRL_C_EVENT; }

// Ctrl-C cancels the attempt, cleans up its office and ends the run without trying the other
// suite. Wine 8 delivers a console's Ctrl-C only to every process of a console made with
// AllocConsole (group 0): Ctrl-Break and events to one process group fail or are dropped there,
// so this test sends Ctrl-C to the whole console and ignores it itself.
TEST_F(ProgramTest, CtrlCCancelsTheAttemptAndLeavesNothing) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    SetConsoleCtrlHandler(IgnoreCtrlC, TRUE);
    SetEnvironmentVariableW(L"PARLUX_TIMEOUT_MS", L"60000");
    std::string source = In("hang.docx");
    rig::WriteFile(source, "document bytes");
    rig::WriteFile(source + ".script", "hang Documents.Open\n");
    bool sent = false;
    ULONGLONG sentAt = 0;
    rig::Run run = rig::RunParlux(m_dir, rig::Quoted({source, In("out.pdf")}), [&](void*) {
        for (int i = 0; i < 300 && !rig::FileExists(source + ".calls"); ++i) Sleep(100);
        sentAt = GetTickCount64();
        sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    });
    ULONGLONG tookMs = GetTickCount64() - sentAt;
    SetConsoleCtrlHandler(IgnoreCtrlC, FALSE);
    ASSERT_TRUE(sent) << GetLastError();
    EXPECT_LT(tookMs, 30000u) << "the run waited for its time limit instead";
    ExpectFailure(run, 10, "timeout (10), stage=5, HRESULT=0x800704C7", "Conversion was cancelled.");
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, " provider=ms interrupted; cancellation requested")) << log;
    EXPECT_FALSE(Contains(log, "provider=wps")) << log;
    EXPECT_TRUE(rig::AttemptProcesses().empty()) << "a process of the attempt was left";
    EXPECT_FALSE(rig::FileExists(In("out.pdf")));
}

}  // namespace
