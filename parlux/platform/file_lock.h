// A lock shared by every process that appends to one file: flock on a companion lock file.
#pragma once

#include <string>

namespace parlux::platform {

class FileLock {
public:
    // Waits at most `timeoutMs` for the lock on `lockPath`; held() tells whether it was taken.
    FileLock(const std::string& lockPath, int timeoutMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

// Full path of the running program (/proc/self/exe); empty when unknown.
std::string ProgramPath();

}  // namespace parlux::platform
