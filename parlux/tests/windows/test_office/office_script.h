// What the scripted test office does with one document: the script beside it
// ("<document>.script"), and the log of every call it receives ("<document>.calls").
//
// Script lines ("#" starts a comment; a line starting "<image name>:" holds only for the office
// running under that name, such as "winword.exe: fail Documents.Open 0x80004005"):
//   fail <Kind.Member> <hresult> [description]   the call fails with that HRESULT (raised as an
//                                                exception carrying the description when given)
//   hang <Kind.Member>                           the call never returns
//   crash <Kind.Member>                          the office process dies in the call
//   after-quit stay                              Quit leaves the process running (WM_CLOSE ends it)
//   after-quit ignore-close                      ... and WM_CLOSE is ignored too
//   no-hwnd                                      the application has no "Hwnd" to read
//   export-garbage                               ExportAsFixedFormat writes a file that is no PDF
//   sheet worksheet|chart [shapes=N] [value=TEXT] [rows=H1,H2,...]
//                                                one sheet of a workbook (default: one worksheet
//                                                holding a value, rows 15,15)
// Kinds: Application, Documents, Document, Window, Pane, View, RevisionsFilter, Workbooks,
// Workbook, Sheets, Sheet, Shapes, Range, Rows, Row, PageSetup.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace test_office {

struct SheetScript {
    bool chart = false;
    long shapes = 0;
    std::wstring value;  // empty: no cell holds anything
    std::vector<double> rowHeights = {15, 15};
};

enum class AfterQuit { Exit, Stay, IgnoreClose };

struct OfficeScript {
    std::map<std::wstring, HRESULT> failures;
    std::map<std::wstring, std::wstring> descriptions;
    std::vector<std::wstring> hangs, crashes;
    AfterQuit afterQuit = AfterQuit::Exit;
    bool noHwnd = false;
    bool exportGarbage = false;
    std::vector<SheetScript> sheets;
};

// The script beside `document`; the defaults when there is none.
OfficeScript ReadScript(const std::wstring& document);

// The office's state across its objects: the script of the open document and its call log.
class OfficeState {
public:
    static OfficeState& Get();

    // Every call: logged, then the script's failure, hang or crash for it applied.
    HRESULT BeforeCall(const std::wstring& qualifiedName,
                       const std::vector<std::wstring>& arguments, std::wstring& description);
    // Called by Open before anything else: the document's script and log take over.
    void UseDocument(const std::wstring& document);
    const OfficeScript& script() const { return m_script; }

private:
    void Log(const std::wstring& line);

    OfficeScript m_script;
    std::wstring m_logPath;
    std::vector<std::wstring> m_pending;  // calls before a document named the log
};

}  // namespace test_office
