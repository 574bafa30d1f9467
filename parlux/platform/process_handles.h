// Handles on processes: starting the worker, waiting for it, and acting on a process by pidfd
// so that a signal never reaches a process that took over a freed id.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace parlux::platform {

// How a child is started besides its arguments.
struct SpawnOptions {
    std::vector<std::string> environment;  // "NAME=value" entries replacing the parent's ones
    bool ownProcessGroup = false;          // a group of its own, apart from the caller's terminal
    int parentDeathSignal = 0;             // sent to the child when the spawning thread ends
    bool nullStdio = false;                // standard input, output and error on /dev/null
    bool outputToStderr = false;           // standard input on /dev/null, standard output onto error
    // With `onlyKept`, the child holds no descriptor above standard error but these (a service's
    // client sockets, which it never marks close-on-exec, stay with the service).
    bool onlyKept = false;
    std::vector<int> kept;
};

// Starts `argv[0]` with these arguments, the parent's environment and inheritable descriptors;
// 0 with errno set on failure (also when the program could not be executed).
pid_t SpawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options = SpawnOptions());
// Waits up to `timeoutMs` for a child to end; true once it has ended (and was reaped).
// `exitCode` is its exit status, or 128 + signal when a signal ended it.
bool WaitChild(pid_t pid, int timeoutMs, int& exitCode);

// A pidfd for `pid`; -1 with errno set (ESRCH: no such process).
int OpenProcessHandle(pid_t pid);
// Waits up to `timeoutMs` on a pidfd; true when the process has ended.
bool WaitProcessHandle(int handle, int timeoutMs);
bool SignalProcessHandle(int handle, int signal);
void CloseProcessHandle(int handle);

}  // namespace parlux::platform
