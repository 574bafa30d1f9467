#include "platform/socket_wait.h"

#include <errno.h>
#include <poll.h>

namespace platform {

bool WaitForSocket(int fd, bool forReading, int timeoutMs) {
    pollfd entry{fd, static_cast<short>(forReading ? POLLIN : POLLOUT), 0};
    int rc;
    do {
        rc = poll(&entry, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc != 0;
}

}  // namespace platform
