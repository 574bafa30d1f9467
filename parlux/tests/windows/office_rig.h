// The rig of the converter's Windows tests: a private directory with its own copy of parlux.exe
// (so its Logs\convertLog.txt is the test's), the scripted test office registered under the
// suites' ProgIDs, runs of the converter, and a process snapshot.
//
// Wine quirks the rig works around (wine 8):
// - wine reads COM class registrations only under HKLM (HKCU\Software\Classes is ignored,
//   0x800401F3): the rig registers there, from inside the test process, so the view of the
//   registry is the one of the converter's bitness;
// - a server registered REGCLS_MULTIPLEUSE stays unreachable for every later client once it
//   was killed, until `wineserver -k`: the test office registers REGCLS_SINGLEUSE by default
//   (PARLUX_TEST_OFFICE_REGISTRATION=multiple chooses the other mode);
// - windows that are not message-only need a display driver: without an X display the rig
//   sets HKCU\Software\Wine\Drivers Graphics=null.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>

#include "providers.h"

namespace rig {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
// The words as one command line, each in double quotes.
std::wstring Quoted(std::initializer_list<std::string> words);

// A fresh directory under the temporary directory; removed with its contents by RemoveTree.
std::string MakeTempDirectory();
void RemoveTree(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// The test office registered under (provider, kind)'s ProgID ("single" or "multiple" use, by
// default from PARLUX_TEST_OFFICE_REGISTRATION, else "single"); Unregister takes it away.
void RegisterOffice(parlux::Provider provider, parlux::DocumentKind kind,
                    const std::wstring& registration = L"");
// Starts the test office of (provider, kind) as COM would, serving many clients: an office
// that was running before the conversion. Its process handle.
void* StartRunningOffice(parlux::Provider provider, parlux::DocumentKind kind);
// Asks every window of the process to close, and waits for it to end.
bool CloseOffice(void* process);
void UnregisterOffice(parlux::Provider provider, parlux::DocumentKind kind);
void RegisterAllOffices();
void UnregisterAllOffices();

struct Run {
    int exitCode = -999;
    std::string err, out;
};
// Runs the copy of parlux.exe in `dir` with these arguments (each quoted), waiting for it;
// `whileRunning` gets its process handle first. `creationFlags` are CreateProcessW's.
Run RunParlux(const std::string& dir, const std::wstring& arguments,
              const std::function<void(void* process)>& whileRunning = nullptr,
              unsigned long creationFlags = 0);
// The log the copy in `dir` wrote.
std::string LogOf(const std::string& dir);

// The running processes whose image name is one of the suites' or parlux.exe's.
std::set<uint32_t> AttemptProcesses();
// Copies parlux.exe into `dir`.
void InstallParlux(const std::string& dir);

}  // namespace rig
