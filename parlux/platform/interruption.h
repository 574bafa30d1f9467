// SIGTERM, SIGINT and SIGHUP of the converter's parent process: noted, so that the running
// attempt is cancelled and cleaned up before the process exits.
#pragma once

namespace parlux::platform {

void InstallInterruptHandlers();
// The signal that asked the process to stop, or 0.
int InterruptSignal();
// Asks the running work to stop as a SIGTERM would (a service's drain that ran out of time).
void RequestInterrupt();

}  // namespace parlux::platform
