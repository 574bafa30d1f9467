#include "temp_output_records.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <sstream>

#include "kit/user_dirs.h"
#include "log.h"
#include "platform/process_stamp.h"
#include "platform/user_dirs.h"

namespace parlux {
namespace {

constexpr size_t kMaxRecordBytes = 8192;

struct Record {
    platform::ProcessStamp writer;
    unsigned long long dev = 0, ino = 0, dirDev = 0, dirIno = 0;
    std::string birth;  // tells the file from a later one that reuses its inode number
    std::string path;
};

// The record directory, private to this user; empty when it cannot be used.
std::string RecordDirectory() {
    std::string base = platform::ParluxUserDirectory("XDG_STATE_HOME", ".local/state");
    if (base.empty()) return base;
    std::string dir = base + "/temporaries", error;
    if (kit::EnsurePrivateDirectory(dir, error)) return dir;
    writeLog(kDebug, "temporary records unavailable error=" + error);
    return std::string();
}

template <typename Number>
std::string Text(Number value) {
    return std::to_string(static_cast<unsigned long long>(value));
}

// The creation time of the file `fd` holds, or of `path` (not followed); "-" when the file
// system keeps none.
std::string BirthTime(int fd, const char* path) {
    struct statx st;
    int flags = fd >= 0 ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW;
    if (statx(fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? "" : path, flags, STATX_BTIME, &st) != 0 ||
        !(st.stx_mask & STATX_BTIME))
        return "-";
    return Text(st.stx_btime.tv_sec) + "." + Text(st.stx_btime.tv_nsec);
}

// One record per temporary, named after the file's identity.
std::string RecordName(const struct stat& st) { return Text(st.st_dev) + "-" + Text(st.st_ino); }

bool IsRecordName(const char* name) {
    const char* dash = std::strchr(name, '-');
    if (!dash || dash == name || dash[1] == '\0') return false;
    for (const char* c = name; *c; ++c)
        if (c != dash && !std::isdigit(static_cast<unsigned char>(*c))) return false;
    return true;
}

bool ReadRecord(const std::string& file, Record& record) {
    int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text(kMaxRecordBytes, '\0');
    ssize_t n = read(fd, &text[0], text.size());
    close(fd);
    if (n <= 0) return false;
    text.resize(static_cast<size_t>(n));
    size_t newline = text.find('\n');
    if (newline == std::string::npos) return false;
    std::istringstream head(text.substr(0, newline));
    record.path = text.substr(newline + 1);  // the rest, whatever bytes the name holds
    return head >> record.writer.pid >> record.writer.startTicks >> record.writer.bootId >>
               record.dev >> record.ino >> record.birth >> record.dirDev >> record.dirIno &&
           !record.path.empty() && record.path[0] == '/';
}

bool Names(const struct stat& st, unsigned long long dev, unsigned long long ino) {
    return static_cast<unsigned long long>(st.st_dev) == dev &&
           static_cast<unsigned long long>(st.st_ino) == ino;
}

// Whether the file is the recorded temporary itself, not one made later in its place.
bool IsRecordedFile(const Record& record, const struct stat& st, int fd) {
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
           Names(st, record.dev, record.ino) && BirthTime(fd, record.path.c_str()) == record.birth;
}

// The recorded temporary as it stands: 1 when it is still the recorded file, 0 when it is gone
// or another file took its name, -1 when that cannot be told now.
int RecordedFileState(const Record& record) {
    struct stat st;
    if (lstat(record.path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
    return IsRecordedFile(record, st, -1) ? 1 : 0;
}

// Deletes the recorded temporary unless some process still writes it (holds its lock).
bool RemoveUnlessLocked(const Record& record) {
    int fd = open(record.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened;
    bool ours = fstat(fd, &opened) == 0 && IsRecordedFile(record, opened, fd);
    bool unused = ours && !(flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK);
    bool removed = unused && RecordedFileState(record) == 1 && unlink(record.path.c_str()) == 0;
    close(fd);
    return removed;
}

}  // namespace

bool RecordTempOutput(const std::string& path, int fd, const std::string& directory) {
    struct stat file, dir;
    if (fstat(fd, &file) != 0 || stat(directory.c_str(), &dir) != 0) return false;
    std::string records = RecordDirectory();
    if (records.empty()) return false;
    platform::ProcessStamp writer = platform::OwnProcessStamp();
    std::string text = Text(writer.pid) + " " + Text(writer.startTicks) + " " +
                       (writer.bootId.empty() ? "-" : writer.bootId) + " " + Text(file.st_dev) +
                       " " + Text(file.st_ino) + " " + BirthTime(fd, "") + " " + Text(dir.st_dev) +
                       " " + Text(dir.st_ino) + "\n" + path;
    if (text.size() > kMaxRecordBytes) return false;
    std::string recordFile = records + "/" + RecordName(file);
    int out = open(recordFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return false;
    bool written = write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(out);
    if (!written) unlink(recordFile.c_str());
    return written;
}

void ForgetTempOutput(int fd) {
    struct stat file;
    if (fd < 0 || fstat(fd, &file) != 0) return;
    std::string records = RecordDirectory();
    if (!records.empty()) unlink((records + "/" + RecordName(file)).c_str());
}

void RemoveAbandonedTempOutputs(const std::string& directory) {
    struct stat dir;
    if (stat(directory.c_str(), &dir) != 0) return;
    std::string records = RecordDirectory();
    DIR* list = records.empty() ? nullptr : opendir(records.c_str());
    if (!list) return;
    while (struct dirent* entry = readdir(list)) {
        Record record;
        std::string file = records + "/" + entry->d_name;
        if (!IsRecordName(entry->d_name) || !ReadRecord(file, record)) continue;
        if (record.writer.bootId == "-") record.writer.bootId.clear();
        if (platform::StampedProcessRuns(record.writer)) continue;
        int state = RecordedFileState(record);
        if (state == 0) {
            unlink(file.c_str());  // committed, deleted or replaced: nothing of ours is left
        } else if (state == 1 && Names(dir, record.dirDev, record.dirIno) &&
                   RemoveUnlessLocked(record)) {
            writeLog(kInfo, "removed abandoned temporary path=" + record.path +
                                " writer_pid=" + std::to_string(record.writer.pid));
            unlink(file.c_str());
        }
    }
    closedir(list);
}

}  // namespace parlux
