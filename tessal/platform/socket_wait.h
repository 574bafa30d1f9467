// Waiting for a socket to become ready.
#pragma once

namespace platform {

// Waits up to `timeoutMs` for socket `fd` to be readable (else writable); false when the time
// ran out. A failure counts as ready: it surfaces in the next call on the socket.
bool WaitForSocket(int fd, bool forReading, int timeoutMs);

}  // namespace platform
