// The software key's file-system and module calls on Linux.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/fs_util.h"
#include "platform/files.h"

namespace softkey {

void FsyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : ListDirectory(path)) RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

namespace platform {

int OpenLockFile(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool LockFile(int fd, bool exclusive) {
    while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0)
        if (errno != EINTR) return false;
    return true;
}

void CloseLockFile(int fd) {
    if (fd >= 0) close(fd);
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool LinkFile(const std::string& from, const std::string& to, bool& exists) {
    bool linked = link(from.c_str(), to.c_str()) == 0;
    exists = !linked && errno == EEXIST;
    return linked;
}

bool StampFile(const std::string& path, FileStamp& out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    out.id = st.st_ino;
    out.size = st.st_size;
    out.seconds = st.st_mtim.tv_sec;
    out.nanoseconds = st.st_mtim.tv_nsec;
    return true;
}

bool SystemRandom(void* out, size_t length) {
    char* bytes = static_cast<char*>(out);
    size_t got = 0;
    while (got < length) {
        ssize_t n = getrandom(bytes + got, length - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

std::string ModuleFileName(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgramFile() {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n <= 0 ? std::string() : std::string(exe, static_cast<size_t>(n));
}

bool IsReadable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

bool MakeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string WorkingDirectory() {
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

struct tm LocalTime(time_t when) {
    struct tm parts {};
    localtime_r(&when, &parts);
    return parts;
}

}  // namespace platform
}  // namespace softkey
