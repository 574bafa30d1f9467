#include "kit/user_dirs.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kit {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return found->pw_dir;
    return std::string();
}

namespace {

bool MakeParents(const std::string& path, std::string& error) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string parent = path.substr(0, slash);
    struct stat st;
    if (stat(parent.c_str(), &st) == 0) return true;
    if (!MakeParents(parent, error)) return false;
    if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + parent + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool EnsurePrivateDirectory(const std::string& path, std::string& error) {
    if (path.empty() || path[0] != '/') {
        error = "the directory \"" + path + "\" is not an absolute path";
        return false;
    }
    if (!MakeParents(path, error)) return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        error = "cannot examine " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a directory" + std::string(S_ISLNK(st.st_mode) ? " (a symbolic link)" : "");
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        return false;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        error = path + " is writable by other users";
        return false;
    }
    return true;
}

}  // namespace kit
