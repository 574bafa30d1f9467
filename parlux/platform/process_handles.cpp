#include "platform/process_handles.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <chrono>
#include <thread>

extern char** environ;

namespace parlux::platform {

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& o : overrides) replaced = replaced || o.compare(0, name.size(), name) == 0;
        if (!replaced) merged.push_back(entry);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

// In the child: closes every descriptor above standard error but `kept` (sorted) and `report`.
void CloseOthers(const std::vector<int>& kept, int report) {
    unsigned next = 3;
    auto keep = [&](int fd) {
        if (fd < static_cast<int>(next)) return;
        if (static_cast<unsigned>(fd) > next) close_range(next, static_cast<unsigned>(fd) - 1, 0);
        next = static_cast<unsigned>(fd) + 1;
    };
    for (int fd : kept) {
        if (report < fd) keep(report);
        keep(fd);
    }
    keep(report);
    close_range(next, ~0U, 0);
}

// In the child between fork and exec: only async-signal-safe calls. Reports errno on `report`.
[[noreturn]] void ExecChild(char** argv, char** envp, const SpawnOptions& options, pid_t parent, int report) {
    int error = 0;
    if (options.onlyKept) CloseOthers(options.kept, report);
    if (options.ownProcessGroup && setpgid(0, 0) != 0) error = errno;
    if (!error && options.parentDeathSignal) {
        if (prctl(PR_SET_PDEATHSIG, options.parentDeathSignal) != 0) error = errno;
        else if (getppid() != parent) _exit(127);  // the parent is already gone
    }
    if (!error && options.nullStdio) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) error = errno;
        if (null > 2) close(null);
    }
    if (!error && options.outputToStderr) {
        int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, 0) < 0 || dup2(2, 1) < 0) error = errno;
        if (null > 2) close(null);
    }
    // Dispositions and the mask of the caller are not the child's business.
    struct sigaction deflt = {};
    deflt.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &deflt, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!error) {
        execve(argv[0], argv, envp);
        error = errno;
    }
    while (write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

}  // namespace

pid_t SpawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options) {
    if (argv.empty() || argv[0].empty()) {
        errno = ENOENT;
        return 0;
    }
    std::vector<std::string> env = MergedEnvironment(options.environment);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    SpawnOptions sorted = options;
    std::sort(sorted.kept.begin(), sorted.kept.end());
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return 0;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        errno = error;
        return 0;
    }
    if (pid == 0) ExecChild(args.data(), envp.data(), sorted, parent, report[1]);
    close(report[1]);
    int error = 0;
    ssize_t n;
    while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {  // the exec failed: the child is reaped here
        int status = 0;
        waitpid(pid, &status, 0);
        errno = error;
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
