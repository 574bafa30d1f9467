// The software key's file-system and module calls on Windows (paths are UTF-8).
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

#include "core/fs_util.h"
#include "kit/wide_text.h"
#include "platform/files.h"

namespace softkey {
namespace {

std::wstring Wide(const std::string& path) { return kit::WidenUtf8(path); }

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

// errno for the failure of a Windows file call, for messages.
void SetErrnoFrom(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            errno = EEXIST;
            break;
        default:
            errno = EACCES;
    }
}

}  // namespace

void FsyncDirectory(const std::string&) {}  // a directory's entries need no flush of their own

bool ReadWholeFile(const std::string& path, std::string& out) {
    int fd = _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return false;
    out.clear();
    char buffer[65536];
    for (;;) {
        int n = _read(fd, buffer, sizeof buffer);
        if (n < 0) {
            _close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    _close(fd);
    return true;
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
    DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::string& path) {
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A reparse point (a link) is removed itself, never followed.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const std::string& name : ListDirectory(path)) RemoveTree(path + "/" + name);
        RemoveDirectoryW(Wide(path).c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(Wide(path).c_str());
    } else {
        DeleteFileW(Wide(path).c_str());
    }
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Wide(path + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(kit::NarrowToUtf8(name));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

namespace platform {

int OpenLockFile(const std::string& path) {
    return _wopen(Wide(path).c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

bool LockFile(int fd, bool exclusive) {
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED whole = {};
    return LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD,
                      &whole) != 0;
}

void CloseLockFile(int fd) {
    if (fd >= 0) _close(fd);
}

bool RemoveFile(const std::string& path) { return _wunlink(Wide(path).c_str()) == 0; }

bool LinkFile(const std::string& from, const std::string& to, bool& exists) {
    bool linked = CreateHardLinkW(Wide(to).c_str(), Wide(from).c_str(), nullptr) != 0;
    DWORD error = linked ? 0 : GetLastError();
    exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    if (!linked) SetErrnoFrom(error);
    return linked;
}

bool StampFile(const std::string& path, FileStamp& out) {
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!ok) return false;
    uint64_t written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                       info.ftLastWriteTime.dwLowDateTime;  // 100 ns units
    out.id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    out.seconds = static_cast<int64_t>(written / 10000000);
    out.nanoseconds = static_cast<long>(written % 10000000) * 100;
    return true;
}

bool SystemRandom(void* out, size_t length) {
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(length),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

std::string ModuleFileName(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return "";
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    std::wstring whole(path, n);
    size_t slash = whole.find_last_of(L"\\/");
    return kit::NarrowToUtf8(slash == std::wstring::npos ? whole : whole.substr(slash + 1));
}

std::string ProgramFile() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    std::string file = kit::NarrowToUtf8(std::wstring(path, n));
    std::replace(file.begin(), file.end(), '\\', '/');
    return file;
}

bool IsReadable(const std::string& path) { return _waccess(Wide(path).c_str(), 4) == 0; }

std::string WorkingDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return "";
    std::wstring dir(n, L'\0');
    dir.resize(GetCurrentDirectoryW(n, &dir[0]));
    std::string text = kit::NarrowToUtf8(dir);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// "C:/..." or "C:\...", "\\server\...", or a path from the root of the current drive.
bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() > 2 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
}

struct tm LocalTime(time_t when) {
    struct tm parts {};
    localtime_s(&parts, &when);
    return parts;
}

bool MakeDirectory(const std::string& path) {
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return true;
    SetErrnoFrom(error);
    return false;
}

}  // namespace platform
}  // namespace softkey
