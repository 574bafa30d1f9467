#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace parlux::platform {

FileLock::FileLock(const std::string& lockPath, int timeoutMs) {
    m_fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0) close(m_fd);  // closing releases the lock
}

std::string ProgramPath() {
    std::vector<char> path(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", path.data(), PATH_MAX);
    if (n <= 0 || n >= PATH_MAX) return std::string();
    return std::string(path.data(), static_cast<size_t>(n));
}

}  // namespace parlux::platform
