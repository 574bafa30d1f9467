#include "platform/pipes.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace parlux::platform {
namespace {

bool InheritablePair(int& parentEnd, int& childEnd, bool parentReads) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    parentEnd = parentReads ? fds[0] : fds[1];
    childEnd = parentReads ? fds[1] : fds[0];
    fcntl(childEnd, F_SETFD, 0);
    return true;
}

}  // namespace

bool CreateWorkerPipe(int& readEnd, int& writeEnd) {
    if (!InheritablePair(readEnd, writeEnd, true)) return false;
    fcntl(readEnd, F_SETFL, fcntl(readEnd, F_GETFL) | O_NONBLOCK);
    fcntl(readEnd, F_SETPIPE_SZ, kWorkerPipeBytes);  // the kernel rounds up to whole pages
    return true;
}

bool CreateJobPipe(int& readEnd, int& writeEnd) { return InheritablePair(writeEnd, readEnd, false); }

bool CreateCancellation(int& setEnd, int& waitEnd) { return InheritablePair(setEnd, waitEnd, false); }

void SignalCancellation(int setEnd) {
    char one = 1;
    while (write(setEnd, &one, 1) < 0 && errno == EINTR) {
    }
}

size_t BytesAvailable(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

void CloseDescriptor(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace parlux::platform
