#include "office_rig.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "kit/wide_text.h"
#include "platform/processes.h"

namespace rig {
namespace {

// One CLSID per ProgID of the suite table.
const wchar_t* ClassId(parlux::Provider provider, parlux::DocumentKind kind) {
    bool word = kind == parlux::DocumentKind::WordDocument;
    if (provider == parlux::Provider::Microsoft)
        return word ? L"{6E1D3E10-6C1B-4C57-9E8A-70A1B2C3D401}"
                    : L"{6E1D3E10-6C1B-4C57-9E8A-70A1B2C3D402}";
    return word ? L"{6E1D3E10-6C1B-4C57-9E8A-70A1B2C3D403}"
                : L"{6E1D3E10-6C1B-4C57-9E8A-70A1B2C3D404}";
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, n);
    return full.substr(0, full.find_last_of(L"\\/"));
}

// The directory holding the test office under the suites' image names (made once, removed
// when the tests end).
std::wstring OfficeDirectory() {
    static std::wstring dir;
    if (!dir.empty()) return dir;
    dir = Widen(MakeTempDirectory());
    std::atexit([] { RemoveTree(Narrow(dir)); });
    std::wstring office = ProgramDirectory() + L"\\parlux_test_office.exe";
    for (const char* image : {"winword.exe", "excel.exe", "wps.exe", "et.exe"})
        CopyFileW(office.c_str(), (dir + L"\\" + Widen(image)).c_str(), FALSE);
    return dir;
}

void SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

std::wstring Registration() {
    const char* mode = std::getenv("PARLUX_TEST_OFFICE_REGISTRATION");
    return mode && std::string(mode) == "multiple" ? L"multiple" : L"single";
}

// Without an X display wine can only make windows with its null display driver.
void UseNullDisplayWithoutX() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        SetValue(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", L"Graphics", L"null");
}

}  // namespace

std::wstring Widen(const std::string& text) { return kit::WidenUtf8(text); }
std::string Narrow(const std::wstring& text) { return kit::NarrowToUtf8(text); }

std::wstring Quoted(std::initializer_list<std::string> words) {
    std::wstring line;
    for (const std::string& word : words) line += (line.empty() ? L"\"" : L" \"") + Widen(word) + L"\"";
    return line;
}

std::string MakeTempDirectory() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        std::wstring dir = std::wstring(base) + L"plxtest" +
                           std::to_wstring(GetCurrentProcessId()) + L"_" +
                           std::to_wstring(++counter);
        if (CreateDirectoryW(dir.c_str(), nullptr)) return Narrow(dir);
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
}

void RemoveTree(const std::string& path) {
    std::wstring dir = Widen(path);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = dir + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(Narrow(child));
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(Widen(path).c_str(), std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(Widen(path).c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The command line COM starts the test office of (provider, kind) with, without -Embedding.
std::wstring ServerCommand(parlux::Provider provider, parlux::DocumentKind kind,
                           const std::wstring& registration) {
    return L"\"" + OfficeDirectory() + L"\\" + Widen(parlux::imageName(provider, kind)) +
           L"\" --clsid " + ClassId(provider, kind) + L" --registration " +
           (registration.empty() ? Registration() : registration);
}

}  // namespace

void RegisterOffice(parlux::Provider provider, parlux::DocumentKind kind,
                    const std::wstring& registration) {
    UseNullDisplayWithoutX();
    std::wstring clsid = ClassId(provider, kind);
    std::wstring progId = Widen(parlux::progId(provider, kind));
    std::wstring classes = L"Software\\Classes\\";
    SetValue(HKEY_LOCAL_MACHINE, classes + progId + L"\\CLSID", nullptr, clsid);
    SetValue(HKEY_LOCAL_MACHINE, classes + L"CLSID\\" + clsid + L"\\LocalServer32", nullptr,
             ServerCommand(provider, kind, registration));
    SetValue(HKEY_LOCAL_MACHINE, classes + L"CLSID\\" + clsid + L"\\ProgID", nullptr, progId);
}

void* StartRunningOffice(parlux::Provider provider, parlux::DocumentKind kind) {
    RegisterOffice(provider, kind, L"multiple");
    std::wstring line = ServerCommand(provider, kind, L"multiple") + L" -Embedding";
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return nullptr;
    CloseHandle(started.hThread);
    WaitForInputIdle(started.hProcess, 5000);
    Sleep(1000);  // its class object registered
    return started.hProcess;
}

namespace {

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

bool CloseOffice(void* process) {
    EnumWindows(CloseWindowOf, static_cast<LPARAM>(GetProcessId(process)));
    bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void UnregisterOffice(parlux::Provider provider, parlux::DocumentKind kind) {
    std::wstring classes = L"Software\\Classes\\";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + Widen(parlux::progId(provider, kind))).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + L"CLSID\\" + ClassId(provider, kind)).c_str());
}

void RegisterAllOffices() {
    for (auto provider : {parlux::Provider::Microsoft, parlux::Provider::Wps})
        for (auto kind : {parlux::DocumentKind::WordDocument, parlux::DocumentKind::Workbook})
            RegisterOffice(provider, kind);
}

void UnregisterAllOffices() {
    for (auto provider : {parlux::Provider::Microsoft, parlux::Provider::Wps})
        for (auto kind : {parlux::DocumentKind::WordDocument, parlux::DocumentKind::Workbook})
            UnregisterOffice(provider, kind);
}

void InstallParlux(const std::string& dir) {
    CopyFileW((ProgramDirectory() + L"\\parlux.exe").c_str(),
              (Widen(dir) + L"\\parlux.exe").c_str(), FALSE);
}

namespace {

// Reads a pipe to its end on a thread of its own, so that a full pipe never stalls the child.
DWORD WINAPI Collect(void* context) {
    auto* pair = static_cast<std::pair<HANDLE, std::string*>*>(context);
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(pair->first, buffer, sizeof buffer, &n, nullptr) && n > 0)
        pair->second->append(buffer, n);
    return 0;
}

}  // namespace

Run RunParlux(const std::string& dir, const std::wstring& arguments,
              const std::function<void(void* process)>& whileRunning, unsigned long creationFlags) {
    Run run;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE errRead, errWrite, outRead, outWrite;
    CreatePipe(&errRead, &errWrite, &inheritable, 0);
    CreatePipe(&outRead, &outWrite, &inheritable, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring line = L"\"" + Widen(dir) + L"\\parlux.exe\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    PROCESS_INFORMATION started = {};
    BOOL ok = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, creationFlags,
                             nullptr, nullptr, &startup, &started);
    CloseHandle(errWrite);
    CloseHandle(outWrite);
    std::pair<HANDLE, std::string*> err{errRead, &run.err}, out{outRead, &run.out};
    HANDLE readers[] = {CreateThread(nullptr, 0, Collect, &err, 0, nullptr),
                        CreateThread(nullptr, 0, Collect, &out, 0, nullptr)};
    if (ok) {
        if (whileRunning) whileRunning(started.hProcess);
        WaitForSingleObject(started.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(started.hProcess, &code);
        run.exitCode = static_cast<int>(code);
        CloseHandle(started.hProcess);
        CloseHandle(started.hThread);
    }
    WaitForMultipleObjects(2, readers, TRUE, 30000);
    for (HANDLE reader : readers) CloseHandle(reader);
    CloseHandle(errRead);
    CloseHandle(outRead);
    return run;
}

std::string LogOf(const std::string& dir) { return ReadFile(dir + "\\Logs\\convertLog.txt"); }

std::set<uint32_t> AttemptProcesses() {
    return parlux::platform::ListProcessesByImage(
        {"winword.exe", "excel.exe", "wps.exe", "et.exe", "parlux.exe"});
}

}  // namespace rig
