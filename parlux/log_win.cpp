// The converter's UTF-8 log on Windows: "Logs\convertLog.txt" beside the program, every line
// appended under the named mutex "Local\Parlux.Utf8Log".
#include <windows.h>

#include <cstdio>
#include <vector>

#include "kit/wide_text.h"
#include "log.h"
#include "text.h"

namespace parlux {
namespace {

constexpr wchar_t kMutexName[] = L"Local\\Parlux.Utf8Log";

std::wstring Wide(const std::string& text) { return kit::WidenUtf8(text); }

// Creates every missing directory along `dir`; failures are ignored.
void MakeDirectories(const std::string& dir) {
    for (size_t pos = 0; pos <= dir.size(); ++pos)
        if (pos == dir.size() ||
            ((dir[pos] == '\\' || dir[pos] == '/') && pos > 0 && dir[pos - 1] != ':'))
            CreateDirectoryW(Wide(dir.substr(0, pos)).c_str(), nullptr);
}

void Rotate(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return;
    if (data.nFileSizeHigh == 0 && data.nFileSizeLow < static_cast<DWORD>(kRotateBytes)) return;
    const DWORD replace = MOVEFILE_REPLACE_EXISTING;
    DeleteFileW(Wide(path + ".3").c_str());
    MoveFileExW(Wide(path + ".2").c_str(), Wide(path + ".3").c_str(), replace);
    MoveFileExW(Wide(path + ".1").c_str(), Wide(path + ".2").c_str(), replace);
    MoveFileExW(Wide(path).c_str(), Wide(path + ".1").c_str(), replace);
}

std::string Line(LogLevel level, const std::string& message) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char head[96];
    std::snprintf(head, sizeof head, "[%04u-%02u-%02u %02u:%02u:%02u.%03u] [%lu:%lu] %s - ",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds, GetCurrentProcessId(), GetCurrentThreadId(), levelText(level));
    return head + message + "\r\n";
}

}  // namespace

std::string logFilePathFor(const std::string& program) {
    if (program.empty()) return "convertLog.txt";
    size_t separator = program.find_last_of("\\/");
    std::string dir =
        (separator == std::string::npos ? std::string(".") : program.substr(0, separator)) +
        "\\Logs";
    MakeDirectories(dir);
    return dir + "\\convertLog.txt";
}

std::string logFilePath() {
    std::vector<wchar_t> path(32768);
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return "convertLog.txt";
    return logFilePathFor(kit::NarrowToUtf8(std::wstring(path.data(), length)));
}

void writeLogTo(const std::string& path, LogLevel level, const std::string& message) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    // Written whether the wait succeeds, times out or finds the mutex abandoned.
    DWORD wait = mutex ? WaitForSingleObject(mutex, kLogLockWaitMs) : WAIT_FAILED;
    Rotate(path);
    // Values come from file names and office texts: one valid line whatever they hold.
    std::string line = Line(level, EscapeForLog(message));
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        FlushFileBuffers(file);
        CloseHandle(file);
    }
    if (mutex) {
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
}

void writeLog(LogLevel level, const std::string& message) {
    writeLogTo(logFilePath(), level, message);
}

}  // namespace parlux
