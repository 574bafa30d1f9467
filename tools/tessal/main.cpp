// tessal: the attached keys, their PIN, certificates and signatures, through libtessal.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "tool_io.h"

using namespace tessal_tool;

namespace {

// The library's console lines are off for this tool unless TESSAL_CONSOLE asks otherwise. The
// library writes some of them while it loads, before main, and the C library resets the
// environment before any library initialiser runs. So this runs first of all, from the program's
// pre-initialisation array, and starts the program again with TESSAL_CONSOLE=0 added.
void ConsoleOffUnlessAsked(int, char** argv, char** envp) {
    size_t n = 0;
    for (; envp[n]; ++n)
        if (std::strncmp(envp[n], "TESSAL_CONSOLE=", 15) == 0) return;  // the user's choice stands
    char** env = static_cast<char**>(std::malloc((n + 2) * sizeof(char*)));
    if (!env) return;
    std::memcpy(env, envp, n * sizeof(char*));
    env[n] = const_cast<char*>("TESSAL_CONSOLE=0");
    env[n + 1] = nullptr;
    execve("/proc/self/exe", argv, env);
    std::free(env);  // then the lines stay on, sent to standard error
}
__attribute__((section(".preinit_array"), used)) void (*const kConsoleOff)(int, char**, char**) = ConsoleOffUnlessAsked;

#ifndef TESSAL_SYSTEM_DRIVER_DIR
#define TESSAL_SYSTEM_DRIVER_DIR "/usr/lib/tessal/drivers"
#endif

const kit::cli::Tool kTessal = {
    "tessal",
    "[--key ID] [--json] [--pin-file FILE|--pin-env VARIABLE] [--driver-dir DIR] COMMAND [ARGS...]",
    "Lists the USB security keys libtessal sees, verifies and changes their user PIN, reads their\n"
    "certificates and signs with them, through the library's exported functions.",
    {{"key", true}, {"json", false}, {"pin-file", true}, {"pin-env", true}, {"driver-dir", true}},
    {
        {"keys", "keys", "list the attached keys: id, driver library, kind, containers, current", {}, CmdKeys},
        {"pin",
         "pin (verify|change|unblock) [--new-pin-file FILE|--new-pin-env VARIABLE] "
         "[--admin-pin-file FILE|--admin-pin-env VARIABLE]",
         "verify the user PIN, change it, or unblock it with the administrator PIN (from its option, "
         "else asked for) and set a new one",
         {{"new-pin-file", true}, {"new-pin-env", true}, {"admin-pin-file", true}, {"admin-pin-env", true}},
         CmdPin},
        {"cert", "cert show [--enc] | cert export [--enc] [--der] (FILE|-)",
         "describe the signing (or encryption) certificate, or write it as PEM (or DER)",
         {{"enc", false}, {"der", false}}, CmdCert},
        {"sign", "sign [--detached|--seal] [--require-time-stamp] (INPUT|-) (OUTPUT|-)",
         "sign a file into DER: PKCS#7 signed data, attached or detached, time-stamped when the time "
         "service answers; --seal: the SM2 signature of an SM2 key",
         {{"detached", false}, {"seal", false}, {"require-time-stamp", false}}, CmdSign},
        {"verify", "verify [--CAfile FILE] [--no-chain] (SIGNATURE|-) [CONTENT|-]",
         "check a DER PKCS#7 signature (with its content when detached) and each signer's certificate "
         "chain against the library's built-in CA certificates and those of --CAfile (--no-chain: the "
         "signatures alone); exit 0 when verified, 3 when valid but a signer is not trusted",
         {{"CAfile", true}, {"no-chain", false}}, CmdVerify},
    },
    "  --key ID              the key to use (else the library's current key)\n"
    "  --json                print results as JSON\n"
    "  --pin-file FILE       the user PIN is the file's first line (\"-\": standard input)\n"
    "  --pin-env VARIABLE    the user PIN is the value of this environment variable\n"
    "  --driver-dir DIR      load the vendor driver libraries from DIR alone (as TESSAL_DRIVER_DIR)\n",
    "Without a PIN option the PIN is asked for on the terminal, without echo; it is never taken\n"
    "from the command line. \"-\" names standard input for an input and standard output for an\n"
    "output. The library's own console lines are off (TESSAL_CONSOLE=0) unless TESSAL_CONSOLE is\n"
    "set in the environment; then they go to standard error.\n"
    "A key's driver library is loaded from its family sub-directory (the catalogue's, when it has\n"
    "one) of the directory --driver-dir or TESSAL_DRIVER_DIR names; without them, of the program's\n"
    "directory and then of the system directory " TESSAL_SYSTEM_DRIVER_DIR ".\n"
    "Exit status: 0 on success, 1 on failure (also when an attached key has no driver library that\n"
    "opens it), 2 for a usage mistake, 3 when verify finds valid signatures whose signer is not\n"
    "trusted.\n",
};

// Settings the library reads when it is first used, taken from the global options first.
kit::cli::Tool WithLibrarySettings(kit::cli::Tool tool) {
    for (kit::cli::Command& command : tool.commands) {
        command.run = [run = command.run](const Args& a) {
            if (a.Has("--driver-dir")) {
                if (a.Option("--driver-dir").empty())
                    throw UsageError("--driver-dir needs a directory");
                setenv("TESSAL_DRIVER_DIR", a.Option("--driver-dir").c_str(), 1);
            }
            return run(a);
        };
    }
    return tool;
}

}  // namespace

int main(int argc, char** argv) {
    SeparateOutput();
    return kit::cli::RunTool(WithLibrarySettings(kTessal), argc, argv, Output());
}
