#include "platform/worker_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace parlux::platform {
namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_officeGroup = 0;
pid_t g_parent = 0;
int g_cancelFd = -1;

void OnTerminate(int) {
    g_stop = 1;
    pid_t group = g_officeGroup;
    if (group > 0) kill(-group, SIGKILL);  // an office blocked in a call cannot quit politely
}

}  // namespace

bool InstallWorkerSignals(pid_t parent, int cancelFd) {
    g_parent = parent;
    g_cancelFd = cancelFd;
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGINT, SIG_IGN);  // a Ctrl-C reaches the parent, which cancels this worker
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    return !ParentGone();
}

bool StopRequested() {
    if (g_stop || ParentGone()) return true;
    if (g_cancelFd < 0) return false;
    struct pollfd fd = {g_cancelFd, POLLIN, 0};
    return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

bool ParentGone() { return g_parent > 0 && getppid() != g_parent; }

void NoteParentUnreachable() { g_stop = 1; }

void SetOfficeGroup(pid_t group) { g_officeGroup = group; }

}  // namespace parlux::platform
