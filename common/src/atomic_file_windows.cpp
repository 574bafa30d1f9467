// The atomic file writer on Windows: UTF-8 paths, the C runtime's descriptors in binary mode and
// a rename that replaces the target. The temporary names record the writer as on POSIX (pid and
// process creation time); an open file cannot be removed there, which stands in for the lock.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "file_paths.h"
#include "kit/atomic_file.h"
#include "kit/wide_text.h"
#include "temporary_names.h"

namespace kit {

namespace {

// The creation time of process `pid` (100 ns units); false when it cannot be read.
bool ProcessStartTime(DWORD pid, unsigned long long& start) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    FILETIME created, exited, kernel, user;
    bool ok = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    DWORD code = 0;
    if (ok && GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) ok = false;
    CloseHandle(process);
    if (!ok) return false;
    start = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

// Gone: no running process with that pid, or one that started at another time. A pid no process
// can have is not taken for a gone writer: such a name is left alone.
bool WriterIsGone(unsigned long long pid, unsigned long long start) {
    if (pid > 0xFFFFFFFFull) return false;
    unsigned long long actual = 0;
    return !ProcessStartTime(static_cast<DWORD>(pid), actual) || actual != start;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int mode) : m_path(path) {
    const DWORD self = GetCurrentProcessId();
    unsigned long long start = 0;
    ProcessStartTime(self, start);
    int permissions = (mode & 0222) ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = DirectoryPrefixOf(path) + TemporaryName(BaseNameOf(path), self, start);
        m_fd = _wopen(WidenUtf8(m_tempPath).c_str(),
                      _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, permissions);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) m_tempPath.clear();
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::SetModeAndGroup(unsigned mode, unsigned) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    // Windows files have no group or mode bits beyond read-only.
    return _wchmod(WidenUtf8(m_tempPath).c_str(),
                   (mode & 0222) ? (_S_IREAD | _S_IWRITE) : _S_IREAD) == 0;
}

bool AtomicFileWriter::Write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (m_fd < 0) {
            errno = EBADF;
            return false;
        }
        int n = _write(m_fd, bytes, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::Commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    bool synced = _commit(m_fd) == 0;
    bool closed = _close(m_fd) == 0;
    m_fd = -1;
    bool renamed = synced && closed &&
                   MoveFileExW(WidenUtf8(m_tempPath).c_str(), WidenUtf8(m_path).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!renamed) {
        int saved = synced && closed ? EACCES : errno;
        Discard();
        errno = saved;
        return false;
    }
    m_tempPath.clear();
    return true;
}

void AtomicFileWriter::Discard() {
    if (m_fd >= 0) _close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty()) _wunlink(WidenUtf8(m_tempPath).c_str());
    m_tempPath.clear();
}

bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName) {
    return IsTemporaryNameOf(name, finalName);
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const std::string finalName = BaseNameOf(path);
    const std::string prefix = TemporaryPrefix(finalName) + kTemporaryMarker;
    WIN32_FIND_DATAW entry;
    HANDLE search =
        FindFirstFileW(WidenUtf8(DirectoryPrefixOf(path) + prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = NarrowToUtf8(entry.cFileName);
        unsigned long long pid = 0, start = 0;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !RecordedWriterOf(name, finalName, pid, start) || !WriterIsGone(pid, start))
            continue;
        // Fails while anyone still has the file open.
        DeleteFileW(WidenUtf8(DirectoryPrefixOf(path) + name).c_str());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace kit
