#include "kit/atomic_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "file_paths.h"
#include "kit/process_stat.h"
#include "temporary_names.h"

namespace kit {

namespace {

// The start time of process `pid` in clock ticks after boot; false when it cannot be read.
bool ProcessStartTime(long pid, unsigned long long& start) {
    std::string state;
    uint64_t ticks = 0;
    if (!kit::ReadProcessStat(pid, state, ticks)) return false;
    start = ticks;
    return true;
}

// Gone: no process with that pid, or one that started at another time. A pid no process can
// have is not taken for a gone writer: such a name is left alone.
bool WriterIsGone(unsigned long long pid, unsigned long long start) {
    if (pid == 0 || pid > static_cast<unsigned long long>(INT_MAX)) return false;
    unsigned long long actual = 0;
    if (ProcessStartTime(static_cast<long>(pid), actual)) return actual != start;
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes the abandoned temporary `path` once its lock shows that nobody holds it.
void RemoveIfUnlocked(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return;
    struct stat opened, named;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 &&
        lstat(path.c_str(), &named) == 0 && S_ISREG(opened.st_mode) &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
        unlink(path.c_str());
    close(fd);
}

void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, int mode) : m_path(path) {
    // This process as the name records it (read each time: a forked child is another writer).
    const pid_t self = getpid();
    unsigned long long start = 0;
    ProcessStartTime(self, start);
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = DirectoryPrefixOf(path) + TemporaryName(BaseNameOf(path), self, start);
        m_fd = open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) {
        m_tempPath.clear();
        return;
    }
    // Held until the file is renamed or removed: a later run sees that it is still written.
    flock(m_fd, LOCK_EX | LOCK_NB);
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::SetModeAndGroup(unsigned mode, unsigned group) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    struct stat st;
    if (fstat(m_fd, &st) != 0) return false;
    // The group first: changing it may clear set-id bits that the mode then sets again.
    if (st.st_gid != group && fchown(m_fd, static_cast<uid_t>(-1), static_cast<gid_t>(group)) != 0)
        return false;
    return fchmod(m_fd, static_cast<mode_t>(mode)) == 0;
}

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
    bool renamed = synced && rename(m_tempPath.c_str(), m_path.c_str()) == 0;
    int saved = errno;
    bool closed = close(m_fd) == 0;  // releases the lock, after the rename
    m_fd = -1;
    if (!renamed) {
        Discard();
        errno = saved;
        return false;
    }
    m_tempPath.clear();
    SyncDirectory(DirectoryOf(m_path));
    return closed;
}

void AtomicFileWriter::Discard() {
    if (!m_tempPath.empty())
        unlink(m_tempPath.c_str());  // before the lock goes with the descriptor
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    m_tempPath.clear();
}

bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName) {
    return IsTemporaryNameOf(name, finalName);
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const std::string finalName = BaseNameOf(path);
    DIR* dir = opendir(DirectoryOf(path).c_str());
    if (!dir) return;
    bool removed = false;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        unsigned long long pid = 0, start = 0;
        // Names of earlier versions record no writer: they are left alone.
        if (!RecordedWriterOf(name, finalName, pid, start) || !WriterIsGone(pid, start)) continue;
        RemoveIfUnlocked(DirectoryPrefixOf(path) + name);
        removed = true;
    }
    closedir(dir);
    if (removed) SyncDirectory(DirectoryOf(path));
}

}  // namespace kit
