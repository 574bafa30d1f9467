#include "core/fs_util.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "kit/atomic_file.h"
#include "kit/hex.h"

namespace softkey {
namespace {

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void FsyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

void WriteFileAtomic(const std::string& path, const std::string& data, int mode) {
    kit::AtomicFileWriter file(path, mode);
    if (!file.IsOpen()) Fail("cannot create a temporary file for", path);
    if (!file.Write(data.data(), data.size())) Fail("cannot write", path);
    if (!file.Commit()) Fail("cannot replace", path);
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

void MakeDirs(const std::string& path) {
    if (path.empty() || IsDirectory(path)) return;
    MakeDirs(ParentOf(path));
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) Fail("cannot create directory", path);
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

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = getrandom(&raw[got], bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("no random bytes available");
        }
        got += static_cast<size_t>(n);
    }
    return HexText(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

std::string HexText(const unsigned char* data, size_t len) { return kit::HexText(data, len); }

}  // namespace softkey
