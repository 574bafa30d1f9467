// Ctrl-C, Ctrl-Break and the console's closing for the converter's parent process: noted, so
// that the running attempt is cancelled and cleaned up before the process exits.
#include <windows.h>

#include <csignal>

#include "platform/interruption.h"

namespace parlux::platform {
namespace {

volatile LONG g_signal = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    InterlockedExchange(&g_signal, event == CTRL_C_EVENT       ? SIGINT
                                   : event == CTRL_BREAK_EVENT ? SIGBREAK
                                                               : SIGTERM);
    return TRUE;
}

}  // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int InterruptSignal() { return static_cast<int>(InterlockedCompareExchange(&g_signal, 0, 0)); }

}  // namespace parlux::platform
