#include "kit/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <random>

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

void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int mode) : m_path(path) {
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = path + kTemporaryMarker + RandomSuffix();
        m_fd = open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
        ssize_t n = write(m_fd, bytes, size);
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
    bool synced = fsync(m_fd) == 0;
    bool closed = close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || rename(m_tempPath.c_str(), m_path.c_str()) != 0) {
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
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty()) unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName) {
    const std::string prefix = finalName + kTemporaryMarker;
    if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0) return false;
    return name.find_first_not_of(kSuffixDigits, prefix.size()) == std::string::npos;
}

}  // namespace kit
