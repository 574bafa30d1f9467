#include <winsock2.h>

#include "platform/socket_wait.h"

namespace platform {

bool WaitForSocket(int fd, bool forReading, int timeoutMs) {
    WSAPOLLFD entry = {};
    entry.fd = static_cast<SOCKET>(fd);
    entry.events = static_cast<short>(forReading ? POLLRDNORM : POLLWRNORM);
    return WSAPoll(&entry, 1, timeoutMs) != 0;
}

}  // namespace platform
