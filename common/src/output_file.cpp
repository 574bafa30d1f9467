#include "kit/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "file_paths.h"

namespace kit {

namespace {

// Where `path` leads once its symbolic links are followed, as the kernel follows them; the path
// itself when it is no link. Empty (errno set) for a loop or an unreadable link.
std::string FollowLinks(std::string path) {
    std::vector<char> buffer(PATH_MAX);
    for (int hops = 0; hops <= 40; ++hops) {
        ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return path;  // not a link, or nothing there: this is the file
        if (n == 0 || static_cast<size_t>(n) >= buffer.size()) {
            errno = n == 0 ? ENOENT : ENAMETOOLONG;
            return std::string();
        }
        std::string link(buffer.data(), static_cast<size_t>(n));
        path = link[0] == '/' ? link : DirectoryPrefixOf(path) + link;
    }
    errno = ELOOP;
    return std::string();
}

// A file that only this process can reach (already unlinked), in TMPDIR or /tmp.
int PrivateTemporary() {
    const char* tmp = getenv("TMPDIR");
    const std::string dir = tmp && *tmp ? tmp : "/tmp";
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = dir + "/output-XXXXXX";
    fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd >= 0) unlink(pattern.c_str());
    return fd;
}

bool WriteAll(int fd, const char* bytes, size_t size, off_t* offset) {
    while (size > 0) {
        ssize_t n = offset ? pwrite(fd, bytes, size, *offset) : write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
        if (offset) *offset += n;
    }
    return true;
}

}  // namespace

OutputFileWriter::OutputFileWriter(const std::string& path) {
    // Opening for writing without truncating checks what the open of fopen checks, and changes
    // nothing.
    int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return;
        // A new output; a dangling link gets its target created, as fopen creates it.
        std::string target = FollowLinks(path);
        if (!target.empty()) OpenReplacement(target, nullptr);
        return;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    if (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid()) {
        // Replaced by name only when the name reaches this very file (not so for a link to a
        // deleted file, for one).
        std::string target = FollowLinks(path);
        struct stat named;
        if (!target.empty() && lstat(target.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
            named.st_ino == st.st_ino && OpenReplacement(target, &st)) {
            close(fd);
            return;
        }
    }
    OpenInPlace(fd, S_ISREG(st.st_mode));
}

OutputFileWriter::~OutputFileWriter() {
    if (m_staged >= 0) close(m_staged);
    if (m_target >= 0) close(m_target);
}

bool OutputFileWriter::OpenReplacement(const std::string& target, const struct stat* old) {
    RemoveAbandonedTemporaries(target);
    // Never readable by more people than the old file while the content is written.
    auto writer = std::make_unique<AtomicFileWriter>(
        target, old ? static_cast<int>(old->st_mode & 0666) : 0666);
    if (!writer->IsOpen()) return false;
    if (old && !writer->SetModeAndGroup(old->st_mode & 07777, old->st_gid)) return false;
    m_replacement = std::move(writer);
    return true;
}

bool OutputFileWriter::OpenInPlace(int target, bool regular) {
    m_staged = PrivateTemporary();
    if (m_staged < 0) {
        int saved = errno;
        close(target);
        errno = saved;
        return false;
    }
    m_target = target;
    m_targetIsRegular = regular;
    return true;
}

bool OutputFileWriter::Write(const void* data, size_t size) {
    if (m_replacement) return m_replacement->Write(data, size);
    if (m_staged < 0) {
        errno = EBADF;
        return false;
    }
    return WriteAll(m_staged, static_cast<const char*>(data), size, nullptr);
}

bool OutputFileWriter::Commit() {
    if (m_replacement) {
        bool done = m_replacement->Commit();
        m_replacement.reset();
        return done;
    }
    if (m_target < 0) {
        errno = EBADF;
        return false;
    }
    bool done = CopyStagedContent();
    int saved = errno;
    close(m_staged);
    close(m_target);
    m_staged = m_target = -1;
    errno = saved;
    return done;
}

bool OutputFileWriter::CopyStagedContent() {
    off_t size = lseek(m_staged, 0, SEEK_CUR);
    if (size < 0 || lseek(m_staged, 0, SEEK_SET) != 0) return false;
    // Room for the whole content first, so that a full disk fails before the old content changes.
    if (m_targetIsRegular && size > 0 && fallocate(m_target, FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    std::vector<char> buffer(65536);
    off_t offset = 0;
    for (;;) {
        ssize_t n = read(m_staged, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        if (!WriteAll(m_target, buffer.data(), static_cast<size_t>(n),
                      m_targetIsRegular ? &offset : nullptr))
            return false;
    }
    return !m_targetIsRegular || (ftruncate(m_target, size) == 0 && fsync(m_target) == 0);
}

}  // namespace kit
