// A process told apart from any later one that reuses its id: pid, start time and boot.
#pragma once

#include <cstdint>
#include <string>

namespace parlux::platform {

struct ProcessStamp {
    uint32_t pid = 0;
    uint64_t startTicks = 0;
    std::string bootId;
};

// The stamp of the calling process.
ProcessStamp OwnProcessStamp();
// Whether the stamped process still runs (same boot, same start time, not a zombie).
bool StampedProcessRuns(const ProcessStamp& stamp);

}  // namespace parlux::platform
