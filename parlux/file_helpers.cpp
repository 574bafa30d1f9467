#include "file_helpers.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "hresult.h"
#include "kit/hex.h"
#include "log.h"
#include "platform/compound_file.h"
#include "platform/file_modes.h"
#include "temp_output_records.h"
#include "text.h"

namespace parlux {
namespace {

std::string DirectoryPart(const std::string& full) {
    size_t slash = full.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? "/" : full.substr(0, slash);
}

std::string BaseName(const std::string& full) {
    size_t slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The permission bits an existing regular file at `target` has, else those of a new file.
mode_t TargetPermissions(const std::string& target) {
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 0777;
    return platform::NewFilePermissions();
}

// Another process has `path` open (its /proc entries name the same file).
bool OpenedElsewhere(const struct stat& target) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    pid_t self = getpid();
    while (struct dirent* e = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) continue;
        std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        while (struct dirent* f = readdir(fds)) {
            struct stat st;
            if (f->d_name[0] != '.' && stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino) {
                found = true;
                break;
            }
        }
        closedir(fds);
        if (found) break;
    }
    closedir(proc);
    return found;
}

}  // namespace

std::string fullPath(const std::string& path) {
    std::string text = stripLongPathPrefix(path);
    if (text.empty()) return path;
    if (text[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return path;
        text = std::string(cwd) + "/" + text;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t slash = text.find('/', start);
        std::string part = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    if (out.empty()) return "/";
    // "dir/" names a directory: the separator stays, so the path never names a file "dir".
    return text.back() == '/' ? out + "/" : out;
}

std::string stripLongPathPrefix(const std::string& p) {
    if (p.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\\\" + p.substr(8);
    if (p.compare(0, 4, "\\\\?\\") == 0) return p.substr(4);
    return p;
}

std::string toLongPath(const std::string& path) { return fullPath(path); }

std::string officePath(const std::string& path, size_t limit) {
    std::string f = fullPath(path);
    return f.size() > limit ? std::string() : f;
}

bool samePath(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(toLongPath(a).c_str(), &sa) == 0 && stat(toLongPath(b).c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return fullPath(a) == fullPath(b);
}

std::string uniqueToken() {
    unsigned char bytes[16];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
        return std::to_string(getpid()) + "." + std::to_string(ticks);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    std::string hex = kit::HexText(bytes, sizeof bytes, kit::HexDigits::Upper);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

bool makeTempOutputPath(const std::string& target, std::string& out, int& fd) {
    std::string full = fullPath(target);
    struct stat st;
    // A target naming a directory ("dir/", or an existing one) can never receive the PDF.
    if (full.back() == '/' || (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return false;
    std::string d = DirectoryPart(full);
    if (d.empty()) d = fullPath(".");
    if (stat(toLongPath(d).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    RemoveAbandonedTempOutputs(d);
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string token;
        for (char c : uniqueToken())
            if (c != '-') token += c;
        std::string candidate = Join(d, "plx" + token.substr(0, 5) + ".pdf");
        // The file stays from here to the commit, so nothing can be planted under its name.
        fd = open(toLongPath(candidate).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        // Held while the file is written, and recorded, so that a later run can tell a leftover.
        flock(fd, LOCK_SH | LOCK_NB);
        RecordTempOutput(candidate, fd, d);
        out = candidate;
        return true;
    }
    return false;
}

int openTempOutputForWriting(const std::string& path) {
    int fd = open(toLongPath(path).c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid() ||
        ftruncate(fd, 0) != 0) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    flock(fd, LOCK_SH | LOCK_NB);  // still being written: no later run removes it meanwhile
    return fd;
}

bool isOwnTempFile(const std::string& path, int fd) {
    struct stat named, opened;
    return fd >= 0 && lstat(toLongPath(path).c_str(), &named) == 0 && fstat(fd, &opened) == 0 &&
           S_ISREG(named.st_mode) && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino &&
           named.st_nlink == 1 && named.st_uid == geteuid();
}

bool isValidPdf(int fd) {
    struct stat st;
    char head[5];
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 5 && pread(fd, head, 5, 0) == 5 &&
           std::memcmp(head, "%PDF-", 5) == 0;
}

bool isValidPdf(const std::string& path) {
    int fd = open(toLongPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = isValidPdf(fd);
    close(fd);
    return ok;
}

ResultCode checkSourceAccess(const std::string& path) {
    std::string file = toLongPath(path);
    struct stat st;
    // Only a regular file is a document: a FIFO or a device could block the open or the reads.
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kSourceUnavailable;
    int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kSourceUnavailable;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return kSourceUnavailable;
    }
    // A write lock of another process: a byte-range lock, or an exclusive whole-file lock.
    struct flock probe = {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    bool busy = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    if (!busy && flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) busy = true;
    close(fd);
    // LibreOffice marks documents it edits with a lock file beside them; it is live while the
    // document is open in some process (a stale one after a crash does not count).
    std::string lockFile = Join(DirectoryPart(file), ".~lock." + BaseName(file) + "#");
    struct stat lockStat;
    if (!busy && stat(lockFile.c_str(), &lockStat) == 0) busy = OpenedElsewhere(st) || OpenedElsewhere(lockStat);
    return busy ? kSourceBusy : kSuccess;
}

bool isEncryptedPackage(const std::string& path) {
    int error = 0;
    platform::StorageProbe probe = platform::ProbeCompoundFile(path, &error);
    if (probe == platform::StorageProbe::Unreadable) probe = platform::ProbeCompoundFile(toLongPath(path), &error);
    int32_t hr = probe == platform::StorageProbe::Compound      ? kSOk
                 : probe == platform::StorageProbe::NotCompound ? kSFalse
                                                                : hresultFromWin32(win32FromErrno(error));
    writeLog(kDebug, "encryption_probe path=" + path + " storage_type=" + formatHresult(hr));
    if (hr != kSOk) return false;
    std::vector<platform::StorageEntry> entries;
    bool opened = platform::ListRootEntries(toLongPath(path), entries);
    const int32_t kInvalidHeader = static_cast<int32_t>(0x800300FB);  // STG_E_INVALIDHEADER
    writeLog(kDebug, "encryption_probe open_storage=" + formatHresult(opened ? kSOk : kInvalidHeader));
    if (!opened) return false;
    for (const platform::StorageEntry& entry : entries) {
        std::string name;
        if (entry.type == 2 && Utf16ToUtf8(entry.name, name) && AsciiLower(name) == "encryptedpackage") return true;
    }
    return false;
}

void deleteFileQuietly(const std::string& path) {
    if (!path.empty()) unlink(toLongPath(path).c_str());
}

void deleteTempOutput(const std::string& path, int& fd) {
    if (fd < 0) return;
    struct stat named, opened;
    // Only the file this run created goes: whatever else took its name stays.
    if (lstat(toLongPath(path).c_str(), &named) == 0 && fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        unlink(toLongPath(path).c_str());
    ForgetTempOutput(fd);
    close(fd);
    fd = -1;
}

bool commitValidOutput(const std::string& temp, int& fd, const std::string& target) {
    return isOwnTempFile(temp, fd) && isValidPdf(fd) && commitOutput(temp, fd, target);
}

bool commitOutput(const std::string& temp, int& fd, const std::string& target) {
    std::string from = toLongPath(temp), to = toLongPath(target);
    if (!isOwnTempFile(temp, fd)) {
        errno = EPERM;
        return false;
    }
    // Private until complete; then the mode of the file it replaces, or of a new file.
    if (fchmod(fd, TargetPermissions(to)) != 0 || fsync(fd) != 0 || rename(from.c_str(), to.c_str()) != 0)
        return false;
    ForgetTempOutput(fd);
    close(fd);
    fd = -1;
    int dir = open(DirectoryPart(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace parlux
