#include "platform/process_handles.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace parlux::platform {

pid_t SpawnProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) {
        errno = ENOENT;
        return 0;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        errno = rc;
        return 0;
    }
    return pid;
}

bool WaitChild(pid_t pid, int timeoutMs, int& exitCode) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (r < 0 && errno != EINTR) return true;  // not our child any more
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int OpenProcessHandle(pid_t pid) {
    if (pid <= 0) {
        errno = ESRCH;
        return -1;
    }
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool WaitProcessHandle(int handle, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd fd = {handle, POLLIN, 0};
        int r = poll(&fd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (r > 0) return true;
        if (r < 0 && errno == EINTR) continue;
        return false;
    }
}

bool SignalProcessHandle(int handle, int signal) {
    return syscall(SYS_pidfd_send_signal, handle, signal, nullptr, 0) == 0;
}

void CloseProcessHandle(int handle) {
    if (handle >= 0) close(handle);
}

}  // namespace parlux::platform
