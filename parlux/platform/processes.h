// Processes of the converter: identity by image name and start time, waiting and stopping.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>

namespace parlux::platform {

// The system's tick count since boot (the unit of process start times).
uint64_t TicksNow();
// A process's start time in ticks since boot; false when it does not exist.
bool ProcessStartTicks(pid_t pid, uint64_t& ticks);
// The lowered last component of a process's executable, or its command name; empty when gone.
std::string ProcessImageName(pid_t pid);
// The process owning a window of an office application (on Linux the back ends give the
// office's pid as its window handle); 0 when unknown.
uint32_t WindowProcessId(int32_t windowHandle);
// Running processes whose image name is in `names` (lowered).
std::set<uint32_t> ListProcessesByImage(const std::set<std::string>& names);
// Whether the process's command line contains `text` (false when it is gone).
bool CommandLineContains(pid_t pid, const std::string& text);
// The paths of the named Unix sockets the process holds open.
std::set<std::string> SocketPathsOf(pid_t pid);
// Whether some process holds a Unix socket bound to `path` open.
bool SocketPathInUse(const std::string& path);
// The memory the process holds resident in bytes; 0 when it is gone.
uint64_t ProcessResidentBytes(pid_t pid);
// Whether the process still runs (a zombie does not count).
bool ProcessAlive(pid_t pid);
// Polls until the process is gone or `timeoutMs` passed; true when it is gone.
bool WaitForProcessExit(pid_t pid, int timeoutMs);

}  // namespace parlux::platform
