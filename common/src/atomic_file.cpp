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

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "file_paths.h"
#include "kit/process_stat.h"

namespace kit {

namespace {

const char kTemporaryMarker[] = ".tmp-";
const char kSuffixDigits[] = "0123456789abcdef";
// Names of earlier versions: twelve random hexadecimal digits after the marker.
const size_t kOldSuffixLength = 12;
const size_t kRandomLength = 8;
// The marker, a pid and a start time of at most 20 digits each, two dashes and the random part.
const size_t kMaxSuffixLength = sizeof kTemporaryMarker - 1 + 20 + 1 + 20 + 1 + kRandomLength;

std::string RandomPart() {
    std::random_device source;
    std::string text;
    for (size_t i = 0; i < kRandomLength; ++i) text += kSuffixDigits[source() % 16];
    return text;
}

// The start of the temporary names for `finalName`: the name itself, cut (at a character
// boundary) so that a whole temporary name stays within NAME_MAX.
std::string TemporaryPrefix(const std::string& finalName) {
    const size_t room = NAME_MAX - kMaxSuffixLength;
    if (finalName.size() <= room) return finalName;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(finalName[cut]) & 0xC0) == 0x80) --cut;
    return finalName.substr(0, cut);
}

// The start time of process `pid` in clock ticks after boot; false when it cannot be read.
bool ProcessStartTime(long pid, unsigned long long& start) {
    std::string state;
    uint64_t ticks = 0;
    if (!kit::ReadProcessStat(pid, state, ticks)) return false;
    start = ticks;
    return true;
}

// This process as temporary names record it (read each time: a forked child is another writer).
std::string WriterTag() {
    unsigned long long start = 0;
    ProcessStartTime(getpid(), start);
    return std::to_string(getpid()) + "-" + std::to_string(start);
}

bool AllOf(const std::string& text, size_t from, size_t to, const char* allowed) {
    return to > from && text.find_first_not_of(allowed, from) >= to;
}

// The writer recorded in a temporary name of the current form ("PID-START-RANDOM" after the
// marker); false for the names of earlier versions, which record none.
bool RecordedWriter(const std::string& suffix, long& pid, unsigned long long& start) {
    size_t dash1 = suffix.find('-');
    size_t dash2 = dash1 == std::string::npos ? dash1 : suffix.find('-', dash1 + 1);
    if (dash2 == std::string::npos || suffix.size() - dash2 - 1 != kRandomLength) return false;
    if (!AllOf(suffix, 0, dash1, "0123456789") || !AllOf(suffix, dash1 + 1, dash2, "0123456789") ||
        !AllOf(suffix, dash2 + 1, suffix.size(), kSuffixDigits) || dash1 > 19 ||
        dash2 - dash1 - 1 > 20)
        return false;
    pid = std::strtol(suffix.c_str(), nullptr, 10);
    start = std::strtoull(suffix.c_str() + dash1 + 1, nullptr, 10);
    return true;
}

bool WriterIsGone(long pid, unsigned long long start) {
    unsigned long long actual = 0;
    if (ProcessStartTime(pid, actual)) return actual != start;  // the pid now names another process
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
    const std::string stem = DirectoryPrefixOf(path) + TemporaryPrefix(BaseNameOf(path)) +
                             kTemporaryMarker + WriterTag() + "-";
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_tempPath = stem + RandomPart();
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
    const std::string oldPrefix = finalName + kTemporaryMarker;
    if (name.size() == oldPrefix.size() + kOldSuffixLength &&
        name.compare(0, oldPrefix.size(), oldPrefix) == 0 &&
        AllOf(name, oldPrefix.size(), name.size(), kSuffixDigits))
        return true;
    const std::string prefix = TemporaryPrefix(finalName) + kTemporaryMarker;
    long pid = 0;
    unsigned long long start = 0;
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           RecordedWriter(name.substr(prefix.size()), pid, start);
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const std::string finalName = BaseNameOf(path);
    const std::string prefix = TemporaryPrefix(finalName) + kTemporaryMarker;
    DIR* dir = opendir(DirectoryOf(path).c_str());
    if (!dir) return;
    bool removed = false;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        long pid = 0;
        unsigned long long start = 0;
        // Names of earlier versions record no writer: they are left alone.
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            !RecordedWriter(name.substr(prefix.size()), pid, start) || !WriterIsGone(pid, start))
            continue;
        RemoveIfUnlocked(DirectoryPrefixOf(path) + name);
        removed = true;
    }
    closedir(dir);
    if (removed) SyncDirectory(DirectoryOf(path));
}

}  // namespace kit
