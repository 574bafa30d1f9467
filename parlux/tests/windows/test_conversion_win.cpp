// The converter end to end on Windows (under wine): parlux.exe against the scripted test office
// registered as Word, Excel and WPS (see office_rig.h for the wine quirks worked around).
#include <windows.h>
// needs <windows.h> first
#include <objbase.h>

#include <gtest/gtest.h>

#include "office_test.h"

namespace {

using parlux::DocumentKind;
using parlux::Provider;

const char kMissing[] = "ERROR:0x80020004";
// Standard error is in text mode: a line end is CR LF.
const std::string kEnd = "\r\n";

class ConversionTest : public OfficeTest {
protected:
    // A source document with its script for the test office.
    std::string Document(const std::string& name, const std::string& script = "") {
        std::string path = m_dir + "\\" + name;
        rig::WriteFile(path, "document bytes");
        if (!script.empty()) rig::WriteFile(path + ".script", script);
        return path;
    }
    rig::Run Convert(const std::string& source, const std::string& target,
                     const std::string& provider = "") {
        std::wstring arguments = rig::Quoted({source, target});
        if (!provider.empty()) arguments += L" " + rig::Widen(provider);
        return rig::RunParlux(m_dir, arguments);
    }
    std::string Calls(const std::string& source) { return rig::ReadFile(source + ".calls"); }
    std::string Target() { return m_dir + "\\out dir\\result.pdf"; }
    void MakeTargetDirectory() {
        CreateDirectoryW(rig::Widen(m_dir + "\\out dir").c_str(), nullptr);
    }
    // No temporary PDF is left beside the target.
    bool NoTemporaries() {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW(rig::Widen(m_dir + "\\out dir\\plx*.pdf").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return true;
        FindClose(find);
        return false;
    }

};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(ConversionTest, WordDocumentConvertsThroughTheAutomationCallsInTheirOrder) {
    MakeTargetDirectory();
    std::string source = Document("my report.docx");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(rig::ReadFile(Target()).compare(0, 5, "%PDF-"), 0);
    EXPECT_TRUE(NoTemporaries());
    std::string calls = Calls(source);
    EXPECT_TRUE(Contains(calls,
                         "Application.Visible=(BOOL:0)\nApplication.DisplayAlerts=(I4:0)\n"
                         "Application.AutomationSecurity=(I4:3)\n"))
        << calls;
    EXPECT_FALSE(Contains(calls, "AskToUpdateLinks")) << "a Word document sets no workbook setting";
    std::string m = kMissing;
    EXPECT_TRUE(Contains(calls, "Documents.Open(BSTR:" + source +
                                    ", BOOL:0, BOOL:-1, BOOL:0, BSTR:, BSTR:, BOOL:0, BSTR:, "
                                    "BSTR:, " +
                                    m + ", " + m + ", BOOL:0, BOOL:-1, " + m + ", BOOL:-1, " + m +
                                    ")\n"))
        << calls;
    EXPECT_TRUE(Contains(calls,
                         "RevisionsFilter.Markup=(I4:0)\nRevisionsFilter.View=(I4:0)\n"
                         "View.ShowRevisionsAndComments=(BOOL:0)\n"))
        << calls;
    EXPECT_TRUE(Contains(
        calls,
        ".pdf, I4:17, BOOL:0, I4:0, I4:0, I4:0, I4:0, I4:0, BOOL:-1, BOOL:-1, I4:0, BOOL:-1, "
        "BOOL:-1, BOOL:0)\nDocument.Close(BOOL:0)\nApplication.Quit()\n"))
        << calls;
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, "message=Application created and process ownership verified."))
        << log;
    EXPECT_TRUE(Contains(log, " completed provider=ms result=success")) << log;
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

TEST_F(ConversionTest, WorkbookRowsGrowOnceForMicrosoftAndRowByRowForWps) {
    MakeTargetDirectory();
    std::string excel = Document("book.xlsx", "sheet worksheet value=7 rows=15,15\n");
    rig::Run run = Convert(excel, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::string calls = Calls(excel);
    EXPECT_TRUE(Contains(calls, "Application.AskToUpdateLinks=(BOOL:0)")) << calls;
    EXPECT_TRUE(Contains(calls, "Workbooks.Open(BSTR:" + excel + ", I4:0, BOOL:-1, " + kMissing +
                                    ", BSTR:, BSTR:, BOOL:-1)"))
        << calls;
    EXPECT_TRUE(Contains(calls, "Rows.RowHeight=(R8:17.5)")) << calls;
    EXPECT_FALSE(Contains(calls, "Row.RowHeight=")) << calls;
    EXPECT_TRUE(Contains(calls,
                         "PageSetup.Zoom=(BOOL:0)\nPageSetup.FitToPagesWide=(I4:1)\nPageSetup."
                         "FitToPagesTall=(BOOL:0)"))
        << calls;
    EXPECT_TRUE(Contains(calls, ".pdf, I4:0, BOOL:-1, BOOL:0)\nWorkbook.Close(BOOL:0)")) << calls;

    std::string wps = Document("sheet.et", "sheet worksheet value=7 rows=15,0,409\n");
    run = Convert(wps, Target());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    calls = Calls(wps);
    EXPECT_TRUE(Contains(calls, "Row.RowHeight=(R8:20)")) << calls;
    EXPECT_EQ(calls.find("Row.RowHeight=", calls.find("Row.RowHeight=") + 1), std::string::npos)
        << "the hidden row and the row at 409 points stay: " << calls;
    EXPECT_EQ(rig::ReadFile(Target()).compare(0, 5, "%PDF-"), 0);
}

TEST_F(ConversionTest, WpsDocumentUsesThePaneViewAndBookmarks) {
    MakeTargetDirectory();
    std::string source = Document("letter.wps");
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::string calls = Calls(source);
    EXPECT_TRUE(Contains(calls,
                         "Window.ActivePane()\nPane.View()\nView.RevisionsView=(I4:0)\n"
                         "View.ShowRevisionsAndComments=(BOOL:0)\n"))
        << calls;
    EXPECT_FALSE(Contains(calls, "RevisionsFilter")) << calls;
    EXPECT_TRUE(
        Contains(calls, "BOOL:-1, BOOL:-1, I4:1, BOOL:-1, BOOL:-1, BOOL:0)\nDocument.Close"))
        << "CreateBookmarks is 1 for WPS: " << calls;
}

TEST_F(ConversionTest, ChartSheetsAndPicturesAreContent) {
    MakeTargetDirectory();
    std::string chart = Document("chart.xlsx", "sheet worksheet\nsheet chart\n");
    EXPECT_EQ(Convert(chart, Target(), "ms").exitCode, 1);
    std::string picture = Document("picture.xlsx", "sheet worksheet shapes=1\n");
    EXPECT_EQ(Convert(picture, Target(), "ms").exitCode, 1);
    EXPECT_FALSE(Contains(Calls(picture), "Range.Formula")) << "a shape is content before any cell";
}

TEST_F(ConversionTest, LongSourcePathReachesTheOfficeInItsShortForm) {
    MakeTargetDirectory();
    std::string dir = m_dir + "\\" + std::string(120, 'l') + "\\" + std::string(120, 'm');
    CreateDirectoryW(rig::Widen(dir.substr(0, dir.rfind('\\'))).c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(rig::Widen("\\\\?\\" + dir).c_str(), nullptr));
    std::string source = dir + "\\report.docx";
    ASSERT_GE(source.size(), 244u);
    ASSERT_TRUE(rig::WriteFile("\\\\?\\" + source, "document bytes"));
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    wchar_t shortForm[MAX_PATH];
    DWORD n = GetShortPathNameW(rig::Widen(source).c_str(), shortForm, MAX_PATH);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, 260u);
    std::string calls = rig::ReadFile(rig::Narrow(std::wstring(shortForm, n)) + ".calls");
    EXPECT_TRUE(
        Contains(calls, "Documents.Open(BSTR:" + rig::Narrow(std::wstring(shortForm, n)) + ", "))
        << calls;
    EXPECT_EQ(rig::ReadFile(Target()).compare(0, 5, "%PDF-"), 0);
}

TEST_F(ConversionTest, EmptyWorkbookIsNoContentAndTheOfficeStillQuits) {
    MakeTargetDirectory();
    std::string source = Document("empty.xlsx", "sheet worksheet\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(run.err,
              "Parlux failed: no_content (7), stage=6, HRESULT=0x00000000, The workbook contains "
              "no cell, "
              "drawing, or chart content." +
                  kEnd);
    EXPECT_TRUE(Contains(Calls(source), "Workbook.Close(BOOL:0)\nApplication.Quit()"));
    EXPECT_FALSE(rig::FileExists(Target()));
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

TEST_F(ConversionTest, OpenFailureOfMicrosoftFallsBackToWps) {
    MakeTargetDirectory();
    std::string source = Document(
        "fallback.docx", "winword.exe: fail Documents.Open 0x80004005 Word cannot open it\n");
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, "");
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, " provider=ms result=open_failed hr=0x80004005")) << log;
    EXPECT_TRUE(Contains(log, " fallback_from=ms reason=open_failed")) << log;
    EXPECT_TRUE(Contains(log, " completed provider=wps result=success")) << log;
    EXPECT_EQ(rig::ReadFile(Target()).compare(0, 5, "%PDF-"), 0);
    EXPECT_TRUE(NoTemporaries());
}

TEST_F(ConversionTest, PasswordFailureEndsTheRunWithoutFallback) {
    MakeTargetDirectory();
    std::string source = Document(
        "locked.docx", "winword.exe: fail Documents.Open 0x800A1520 The password is incorrect.\n");
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err,
              "Parlux failed: password_protected (2), stage=5, HRESULT=0x800A1520, The password is "
              "incorrect." +
                  kEnd);
    EXPECT_FALSE(Contains(rig::LogOf(m_dir), "provider=wps"));
    EXPECT_FALSE(rig::FileExists(Target()));
}

TEST_F(ConversionTest, HungOfficeTimesOutAndNothingOfTheAttemptIsLeft) {
    MakeTargetDirectory();
    // Long enough for the office to start under wine on a loaded machine, so that the hang is in
    // Open.
    SetEnvironmentVariableW(L"PARLUX_TIMEOUT_MS", L"10000");
    std::string source = Document("hang.docx", "hang Documents.Open\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 10);
    EXPECT_EQ(run.err,
              "Parlux failed: timeout (10), stage=5, HRESULT=0x80070102, Conversion exceeded the "
              "configured timeout." +
                  kEnd);
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, " provider=ms worker timeout; cancellation requested")) << log;
    EXPECT_TRUE(Contains(log, " terminated verified conversion process pid=")) << log;
    EXPECT_TRUE(rig::AttemptProcesses().empty())
        << "the snapshot still shows a process of the attempt";
    EXPECT_FALSE(rig::FileExists(Target()));
    EXPECT_TRUE(NoTemporaries());
}

TEST_F(ConversionTest, OfficeKilledDuringExportFallsBackToTheOtherSuite) {
    MakeTargetDirectory();
    std::string source =
        Document("killed.docx", "winword.exe: crash Document.ExportAsFixedFormat\n");
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, " fallback_from=ms reason=export_failed")) << log;
    EXPECT_EQ(rig::ReadFile(Target()).compare(0, 5, "%PDF-"), 0);
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

TEST_F(ConversionTest, OfficeLeftRunningAfterQuitIsClosedOrTerminated) {
    MakeTargetDirectory();
    std::string closes = Document("stays.docx", "after-quit stay\n");
    rig::Run run = Convert(closes, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_FALSE(Contains(rig::LogOf(m_dir), "terminated verified conversion process"))
        << "WM_CLOSE ended it";
    EXPECT_TRUE(rig::AttemptProcesses().empty());

    std::string ignores = Document("ignores.docx", "after-quit ignore-close\n");
    run = Convert(ignores, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_TRUE(Contains(rig::LogOf(m_dir), " terminated verified conversion process pid="));
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

TEST_F(ConversionTest, QuitFailureAfterExportIsCleanupFailed) {
    MakeTargetDirectory();
    std::string source = Document("quit.docx", "fail Application.Quit 0x80010108\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 11);
    EXPECT_EQ(
        run.err,
        "Parlux failed: cleanup_failed (11), stage=9, HRESULT=0x80010108, PDF was exported but the "
        "Office application did not close cleanly." +
            kEnd);
    EXPECT_FALSE(rig::FileExists(Target()));
    EXPECT_TRUE(NoTemporaries());
}

TEST_F(ConversionTest, OfficeWithoutWindowHandleIsFoundInTheSnapshot) {
    MakeTargetDirectory();
    std::string source = Document("nohwnd.docx", "no-hwnd\nafter-quit ignore-close\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(
        Contains(log, "owned=true message=Application created and process ownership verified."))
        << log;
    EXPECT_TRUE(Contains(log, " terminated verified conversion process pid=")) << log;
    EXPECT_TRUE(rig::AttemptProcesses().empty());
}

TEST_F(ConversionTest, InvalidPdfIsNeverCommittedAndTheTargetStays) {
    MakeTargetDirectory();
    rig::WriteFile(Target(), "the old target");
    std::string source = Document("garbage.docx", "export-garbage\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 12);
    EXPECT_TRUE(Contains(run.err, "Parlux failed: output_failed (12), stage=10, HRESULT=0x"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, ", Generated PDF could not be validated or committed." + kEnd))
        << run.err;
    EXPECT_EQ(rig::ReadFile(Target()), "the old target");
    EXPECT_TRUE(NoTemporaries());
}

TEST_F(ConversionTest, EncryptedPackageIsRefusedBeforeAnyOfficeStarts) {
    MakeTargetDirectory();
    std::string source = m_dir + "\\secret.docx";
    IStorage* storage = nullptr;
    ASSERT_EQ(StgCreateDocfile(rig::Widen(source).c_str(),
                               STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(
        storage->CreateStream(L"EncryptedPackage",
                              STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream),
        S_OK);
    stream->Write("x", 1, nullptr);
    stream->Release();
    storage->Release();
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(rig::FileExists(source + ".calls")) << "no office was started";
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(log, "storage_type=0x00000000")) << log;
    EXPECT_TRUE(
        Contains(log, "conversion rejected before or between providers result=password_protected"))
        << log;
    EXPECT_FALSE(Contains(log, "worker_pid=")) << log;
}

TEST_F(ConversionTest, UnregisteredProgIdDropsItsProvider) {
    MakeTargetDirectory();
    rig::UnregisterOffice(Provider::Microsoft, DocumentKind::WordDocument);
    std::string source = Document("only wps.doc");
    rig::Run run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_FALSE(Contains(rig::LogOf(m_dir), "provider=ms"));

    rig::UnregisterAllOffices();
    run = Convert(source, Target());
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_EQ(run.err, "") << "decided before any worker ran: nothing printed";
}

TEST_F(ConversionTest, CommandLineErrorsAndUnsupportedFormats) {
    rig::Run run = rig::RunParlux(m_dir, L"");
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(run.err, "Usage: Parlux.exe source_file target_pdf [ms|wps]" + kEnd);
    run = rig::RunParlux(m_dir, L"a.docx b.pdf office");
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(run.err, "Provider must be 'ms' or 'wps'." + kEnd);
    run = Convert(Document("notes.txt"), Target());
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.err, "");
    run = Convert(Document("sheet.et"), Target(), "ms");
    EXPECT_EQ(run.exitCode, 4);
    std::string source = Document("Same.docx");
    run = Convert(source, m_dir + "\\SAME.DOCX");
    EXPECT_EQ(run.exitCode, 12);
    run = Convert(m_dir + "\\missing.docx", Target());
    EXPECT_EQ(run.exitCode, 5);
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(
        Contains(log, "conversion rejected before or between providers result=invalid_arguments"))
        << log;
    EXPECT_TRUE(
        Contains(log, "conversion rejected before or between providers result=unsupported_format"))
        << log;
}

TEST_F(ConversionTest, WorkerRejectsMalformedCommandLines) {
    rig::Run run = rig::RunParlux(m_dir, L"--parlux-worker MS 1 a.docx b.pdf 0 0");
    EXPECT_EQ(run.exitCode, -1);
    run = rig::RunParlux(m_dir, L"--parlux-worker ms 1 a.docx b.pdf 0");
    EXPECT_EQ(run.exitCode, -1);
    run = rig::RunParlux(m_dir, L"--parlux-worker ms 3 a.docx b.pdf 0 0");
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(run.err, "");
}

TEST_F(ConversionTest, KilledConverterTakesItsWorkerAndOfficeAlong) {
    MakeTargetDirectory();
    std::string source = Document("orphan.docx", "hang Documents.Open\n");
    bool sawOffice = false;
    rig::Run run = rig::RunParlux(
        m_dir, rig::Quoted({source, Target(), "ms"}),
        [&](void* parlux) {
            // Until the office hangs in Open (its call log names it).
            for (int i = 0; i < 300 && !rig::FileExists(source + ".calls"); ++i) Sleep(100);
            sawOffice = rig::FileExists(source + ".calls");
            TerminateProcess(parlux, 99);
        });
    EXPECT_TRUE(sawOffice);
    EXPECT_EQ(run.exitCode, 99);
    // The job object ends the worker and the office with the converter.
    for (int i = 0; i < 50 && !rig::AttemptProcesses().empty(); ++i) Sleep(100);
    EXPECT_TRUE(rig::AttemptProcesses().empty())
        << "a process of the attempt outlived the converter";
    EXPECT_FALSE(rig::FileExists(Target()));
}

// Runs last: an office registered for many clients that is killed would leave its class
// unreachable for later clients under wine (until `wineserver -k`), so it is closed politely.
TEST_F(ConversionTest, OfficeThatWasAlreadyRunningIsNeverTouched) {
    MakeTargetDirectory();
    void* running = rig::StartRunningOffice(Provider::Microsoft, DocumentKind::WordDocument);
    ASSERT_NE(running, nullptr);
    std::string source = Document("running.docx", "after-quit stay\nno-hwnd\n");
    rig::Run run = Convert(source, Target(), "ms");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::string log = rig::LogOf(m_dir);
    EXPECT_TRUE(Contains(
        log, "owned=false message=Application created; process ownership could not be verified."))
        << log;
    EXPECT_FALSE(Contains(log, "terminated verified conversion process")) << log;
    EXPECT_EQ(WaitForSingleObject(running, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the running office was closed";
    EXPECT_TRUE(rig::CloseOffice(running));
}

}  // namespace
