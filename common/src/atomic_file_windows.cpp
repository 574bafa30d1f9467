// The atomic file writer on Windows: UTF-8 paths, the C runtime's descriptors in binary mode and
// a rename that replaces the target. The temporary names record the writer as on POSIX (pid and
// process creation time); an open file cannot be removed there, which stands in for the lock.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "file_paths.h"
#include "kit/atomic_file.h"
#include "kit/wide_text.h"

namespace kit {

namespace {

const char kTemporaryMarker[] = ".tmp-";
const char kSuffixDigits[] = "0123456789abcdef";
// Names of earlier versions: twelve random hexadecimal digits after the marker.
const size_t kOldSuffixLength = 12;
const size_t kRandomLength = 8;
// The marker, a pid and a start time of at most 20 digits each, two dashes and the random part.
const size_t kMaxSuffixLength = sizeof kTemporaryMarker - 1 + 20 + 1 + 20 + 1 + kRandomLength;
const size_t kMaxNameLength = 255;

std::string RandomPart() {
    std::random_device source;
    std::string text;
    for (size_t i = 0; i < kRandomLength; ++i) text += kSuffixDigits[source() % 16];
    return text;
}

// The start of the temporary names for `finalName`, cut at a character boundary.
std::string TemporaryPrefix(const std::string& finalName) {
    const size_t room = kMaxNameLength - kMaxSuffixLength;
    if (finalName.size() <= room) return finalName;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(finalName[cut]) & 0xC0) == 0x80) --cut;
    return finalName.substr(0, cut);
}

// The creation time of process `pid` (100 ns units); false when it cannot be read.
bool ProcessStartTime(unsigned long pid, unsigned long long& start) {
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

std::string WriterTag() {
    unsigned long long start = 0;
    ProcessStartTime(GetCurrentProcessId(), start);
    return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(start);
}

bool AllOf(const std::string& text, size_t from, size_t to, const char* allowed) {
    return to > from && text.find_first_not_of(allowed, from) >= to;
}

// The writer recorded in a temporary name ("PID-START-RANDOM" after the marker).
bool RecordedWriter(const std::string& suffix, unsigned long& pid, unsigned long long& start) {
    size_t dash1 = suffix.find('-');
    size_t dash2 = dash1 == std::string::npos ? dash1 : suffix.find('-', dash1 + 1);
    if (dash2 == std::string::npos || suffix.size() - dash2 - 1 != kRandomLength) return false;
    if (!AllOf(suffix, 0, dash1, "0123456789") || !AllOf(suffix, dash1 + 1, dash2, "0123456789") ||
        !AllOf(suffix, dash2 + 1, suffix.size(), kSuffixDigits) || dash1 > 19 ||
        dash2 - dash1 - 1 > 20)
        return false;
    pid = std::strtoul(suffix.c_str(), nullptr, 10);
    start = std::strtoull(suffix.c_str() + dash1 + 1, nullptr, 10);
    return true;
}

// Gone: no running process with that pid, or one that started at another time.
bool WriterIsGone(unsigned long pid, unsigned long long start) {
    unsigned long long actual = 0;
    return !ProcessStartTime(pid, actual) || actual != start;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int mode) : m_path(path) {
    const std::string stem = DirectoryPrefixOf(path) + TemporaryPrefix(BaseNameOf(path)) +
                             kTemporaryMarker + WriterTag() + "-";
    int permissions = (mode & 0222) ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = stem + RandomPart();
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
    const std::string oldPrefix = finalName + kTemporaryMarker;
    if (name.size() == oldPrefix.size() + kOldSuffixLength &&
        name.compare(0, oldPrefix.size(), oldPrefix) == 0 &&
        AllOf(name, oldPrefix.size(), name.size(), kSuffixDigits))
        return true;
    const std::string prefix = TemporaryPrefix(finalName) + kTemporaryMarker;
    unsigned long pid = 0;
    unsigned long long start = 0;
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           RecordedWriter(name.substr(prefix.size()), pid, start);
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const std::string prefix = TemporaryPrefix(BaseNameOf(path)) + kTemporaryMarker;
    WIN32_FIND_DATAW entry;
    HANDLE search =
        FindFirstFileW(WidenUtf8(DirectoryPrefixOf(path) + prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = NarrowToUtf8(entry.cFileName);
        unsigned long pid = 0;
        unsigned long long start = 0;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() <= prefix.size() ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            !RecordedWriter(name.substr(prefix.size()), pid, start) || !WriterIsGone(pid, start))
            continue;
        // Fails while anyone still has the file open.
        DeleteFileW(WidenUtf8(DirectoryPrefixOf(path) + name).c_str());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace kit
