// The worker's progress pipe and its cancellation object.
#pragma once

#include <cstddef>

namespace parlux::platform {

constexpr int kWorkerPipeBytes = 8704;

// A pipe whose read end stays with the parent (close-on-exec, non-blocking) and whose write
// end the worker inherits.
bool CreateWorkerPipe(int& readEnd, int& writeEnd);
// The job stream of a serving worker: the parent keeps `writeEnd` (close-on-exec, blocking),
// the worker inherits `readEnd`.
bool CreateJobPipe(int& readEnd, int& writeEnd);
// The cancellation object: `waitEnd` (inherited) becomes readable once SignalCancellation
// writes to `setEnd`; it is never drained, so it stays set.
bool CreateCancellation(int& setEnd, int& waitEnd);
void SignalCancellation(int setEnd);
// Bytes waiting in a pipe.
size_t BytesAvailable(int fd);
void CloseDescriptor(int& fd);

}  // namespace parlux::platform
