#include "platform/interruption.h"

#include <signal.h>

#include <initializer_list>

namespace parlux::platform {
namespace {

volatile sig_atomic_t g_signal = 0;

void OnInterrupt(int sig) { g_signal = sig; }

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

int InterruptSignal() { return g_signal; }

void RequestInterrupt() { g_signal = SIGTERM; }

}  // namespace parlux::platform
