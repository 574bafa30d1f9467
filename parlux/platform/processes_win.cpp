// Processes on Windows: creation times as FILETIME (100 ns since 1601, UTC), image names from
// the full image path, the Toolhelp32 snapshot, and the owner of a window.
#include <windows.h>
// needs <windows.h> first
#include <tlhelp32.h>

#include <vector>

#include "kit/wide_text.h"
#include "platform/processes.h"
#include "platform/windows_handles.h"
#include "text.h"

namespace parlux::platform {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The lowered last component of a path.
std::string LastComponentLowered(const std::wstring& path) {
    size_t separator = path.find_last_of(L"\\/");
    return AsciiLower(
        kit::NarrowToUtf8(separator == std::wstring::npos ? path : path.substr(separator + 1)));
}

}  // namespace

uint64_t TicksNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FromFileTime(now);
}

bool ProcessCreationTime(HANDLE process, uint64_t& created) {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
    created = FromFileTime(creation);
    return true;
}

std::string ProcessImageName(HANDLE process) {
    std::vector<wchar_t> path(32768);
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &size) || size >= path.size())
        return std::string();
    return LastComponentLowered(std::wstring(path.data(), size));
}

bool ProcessStartTicks(pid_t pid, uint64_t& ticks) {
    ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     static_cast<DWORD>(pid)));
    return process && ProcessCreationTime(process.get(), ticks);
}

std::string ProcessImageName(pid_t pid) {
    ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     static_cast<DWORD>(pid)));
    return process ? ProcessImageName(process.get()) : std::string();
}

uint32_t WindowProcessId(int32_t windowHandle) {
    DWORD pid = 0;
    // A window handle is a 32-bit value even in a 64-bit process, sign-extended.
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(windowHandle));
    if (!GetWindowThreadProcessId(window, &pid)) return 0;
    return pid;
}

std::set<uint32_t> ListProcessesByImage(const std::set<std::string>& names) {
    std::set<uint32_t> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (names.count(LastComponentLowered(entry.szExeFile))) found.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

}  // namespace parlux::platform
