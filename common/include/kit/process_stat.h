// What the kernel says of a running process in /proc/<pid>/stat.
#pragma once

#include <cstdint>
#include <string>

namespace kit {

// The state letter and the start time (clock ticks after boot) of process `pid`; false when its
// stat file cannot be read.
bool ReadProcessStat(long pid, std::string& state, uint64_t& startTicks);

}  // namespace kit
