// The worker process on Linux: its inherited descriptors, its messages to the parent, and what
// it removes when the parent is gone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "attempt_files.h"
#include "platform/private_dirs.h"
#include "platform/worker_signals.h"
#include "worker.h"

namespace parlux {

void sendWorkerMessage(int fd, const WorkerMessage& message) {
    if (fd <= 0) return;
    ssize_t n;
    do {
        n = write(fd, &message, sizeof message);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EPIPE) platform::NoteParentUnreachable();  // nobody supervises any more
}

// A descriptor argument: -1 or more, within an int.
bool parseHandleArgument(const char* text, int& fd) {
    long long value = 0;
    if (!parseWholeNumber(text, value) || value < -1 || value > INT_MAX) return false;
    fd = static_cast<int>(value);
    return true;
}

bool cancellationRequested(const ConversionRequest& request) {
    if (platform::StopRequested()) return true;
    if (request.cancelFd < 0) return false;
    struct pollfd fd = {request.cancelFd, POLLIN, 0};
    return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

void CleanUpAfterParent(const std::string& output) {
    struct stat st;
    if (!output.empty() && lstat(output.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid())
        unlink(output.c_str());
    const char* attemptDir = std::getenv(kAttemptDirVariable);
    if (!attemptDir || !*attemptDir) return;
    RemoveOfficeSockets(attemptDir);
    platform::RemoveTree(attemptDir);
}

namespace {

// The descriptors a worker inherits: close-on-exec from now on (the office processes it starts
// must not hold the parent's pipes or event); false when the parent is already gone.
bool AdoptParentDescriptors(std::initializer_list<int> fds, int cancelFd) {
    for (int fd : fds)
        if (fd > 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    long long parent = 0;
    const char* parentText = std::getenv(kParentPidVariable);
    return !(parentText && parseWholeNumber(parentText, parent) && parent > 0 &&
             !platform::InstallWorkerSignals(static_cast<pid_t>(parent), cancelFd));
}

// argv: program, "--parlux-worker", "--serve", pipe fd, cancellation fd, job fd.
int serveMain(char** argv) {
    int pipe = -1, cancel = -1, jobs = -1;
    if (!parseHandleArgument(argv[3], pipe) || !parseHandleArgument(argv[4], cancel) ||
        !parseHandleArgument(argv[5], jobs) ||
        pipe <= 0 || jobs <= 0)
        return kInvalidArguments;
    if (cancel <= 0) cancel = -1;
    int code = AdoptParentDescriptors({pipe, cancel, jobs}, cancel) ? serveJobs(pipe, cancel, jobs)
                                                                    : kInternalError;
    close(pipe);
    close(jobs);
    if (cancel > 0) close(cancel);
    if (platform::ParentGone()) CleanUpAfterParent(std::string());
    return code;
}

}  // namespace

int workerMain(int argc, char** argv) {
    // The office's connection may close while references are still released over it: that
    // must be an error on the write, not a signal that kills the worker before its result.
    signal(SIGPIPE, SIG_IGN);
    if (argc == 6 && std::strcmp(argv[2], "--serve") == 0) return serveMain(argv);
    WorkerArguments args;
    if (!parseWorkerArguments(argc, argv, args)) return kInvalidArguments;
    if (args.cancelFd <= 0) args.cancelFd = -1;
    if (!AdoptParentDescriptors({args.pipeFd, args.cancelFd}, args.cancelFd)) {
        CleanUpAfterParent(args.output);  // started by a parent that is already gone
        return kInternalError;
    }
    int32_t code = convertForParent(args);
    if (args.pipeFd > 0) close(args.pipeFd);
    if (args.cancelFd > 0) close(args.cancelFd);
    if (platform::ParentGone()) CleanUpAfterParent(args.output);
    return code;
}
}  // namespace parlux
