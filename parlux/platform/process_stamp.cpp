#include "platform/process_stamp.h"

#include <unistd.h>

#include <fstream>

#include "platform/processes.h"

namespace parlux::platform {
namespace {

// Changes at every boot, when process ids and start times begin again.
std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

}  // namespace

ProcessStamp OwnProcessStamp() {
    ProcessStamp stamp;
    stamp.pid = static_cast<uint32_t>(getpid());
    ProcessStartTicks(getpid(), stamp.startTicks);
    stamp.bootId = BootId();
    return stamp;
}

bool StampedProcessRuns(const ProcessStamp& stamp) {
    uint64_t started = 0;
    pid_t pid = static_cast<pid_t>(stamp.pid);
    return stamp.bootId == BootId() && ProcessStartTicks(pid, started) &&
           started == stamp.startTicks && ProcessAlive(pid);
}

}  // namespace parlux::platform
