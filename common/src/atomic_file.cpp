#include "kit/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <random>

#if defined(_WIN32)
#include "kit/wide_text.h"
#endif

namespace kit {

namespace {

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

const char kTemporaryMarker[] = ".tmp-";
const char kSuffixDigits[] = "0123456789abcdef";
const size_t kSuffixLength = 12;

std::string RandomSuffix() {
    std::random_device source;
    std::string text;
    for (size_t i = 0; i < kSuffixLength; ++i) text += kSuffixDigits[source() % 16];
    return text;
}

#if defined(_WIN32)
// Windows: paths are UTF-8; the C runtime's descriptors in binary mode; a rename that replaces
// the target and is flushed before it returns. Directories need no flush of their own.
int OpenExclusive(const std::string& path, int) {
    return _wopen(WidenUtf8(path).c_str(),
                  _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* bytes, size_t size) {
    return _write(fd, bytes, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
int ReplaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(WidenUtf8(from).c_str(), WidenUtf8(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    errno = EACCES;
    return -1;
}
void RemoveFile(const std::string& path) { _wunlink(WidenUtf8(path).c_str()); }
void SyncDirectory(const std::string&) {}
#else
int OpenExclusive(const std::string& path, int mode) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
long WriteSome(int fd, const char* bytes, size_t size) {
    return static_cast<long>(write(fd, bytes, size));
}
int SyncFile(int fd) { return fsync(fd); }
int CloseFile(int fd) { return close(fd); }
int ReplaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str());
}
void RemoveFile(const std::string& path) { unlink(path.c_str()); }
void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
#endif

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int mode) : m_path(path) {
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = path + kTemporaryMarker + RandomSuffix();
        m_fd = OpenExclusive(m_tempPath, mode);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) m_tempPath.clear();
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::Write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (m_fd < 0) {
            errno = EBADF;
            return false;
        }
        long n = WriteSome(m_fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return m_fd >= 0;
}

bool AtomicFileWriter::Commit() {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    bool synced = SyncFile(m_fd) == 0;
    bool closed = CloseFile(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || ReplaceFile(m_tempPath, m_path) != 0) {
        int saved = errno;
        Discard();
        errno = saved;
        return false;
    }
    m_tempPath.clear();
    SyncDirectory(DirectoryOf(m_path));
    return true;
}

void AtomicFileWriter::Discard() {
    if (m_fd >= 0) CloseFile(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty()) RemoveFile(m_tempPath);
    m_tempPath.clear();
}

bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName) {
    const std::string prefix = finalName + kTemporaryMarker;
    if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0) return false;
    return name.find_first_not_of(kSuffixDigits, prefix.size()) == std::string::npos;
}

}  // namespace kit
