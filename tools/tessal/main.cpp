// tessal: the attached keys, their PIN, certificates and signatures, through libtessal.
#include "commands.h"
#include "tool_io.h"

using namespace tessal_tool;

namespace {

const kit::cli::Tool kTessal = {
    "tessal",
    "[--key ID] [--json] [--pin-file FILE|--pin-env VARIABLE] COMMAND [ARGS...]",
    "Lists the USB security keys libtessal sees, verifies and changes their user PIN, reads their\n"
    "certificates and signs with them, through the library's exported functions.",
    {{"key", true}, {"json", false}, {"pin-file", true}, {"pin-env", true}},
    {
        {"keys", "keys", "list the attached keys: id, driver library, kind, containers, current", {}, CmdKeys},
        {"pin", "pin (verify|change|unblock) [--new-pin-file FILE|--new-pin-env VARIABLE]",
         "verify the user PIN, change it, or unblock it and set a new one (the administrator PIN is "
         "the library's)",
         {{"new-pin-file", true}, {"new-pin-env", true}}, CmdPin},
        {"cert", "cert show [--enc] | cert export [--enc] [--der] (FILE|-)",
         "describe the signing (or encryption) certificate, or write it as PEM (or DER)",
         {{"enc", false}, {"der", false}}, CmdCert},
        {"sign", "sign [--detached|--seal] [--require-time-stamp] INPUT (OUTPUT|-)",
         "sign a file into DER: PKCS#7 signed data, attached or detached, time-stamped when the time "
         "service answers; --seal: the SM2 signature of an SM2 key",
         {{"detached", false}, {"seal", false}, {"require-time-stamp", false}}, CmdSign},
        {"verify", "verify SIGNATURE [CONTENT]",
         "check a DER PKCS#7 signature (with its content when detached); exit 0 when it verifies", {},
         CmdVerify},
    },
    "  --key ID              the key to use (else the library's current key)\n"
    "  --json                print results as JSON\n"
    "  --pin-file FILE       the user PIN is the file's first line\n"
    "  --pin-env VARIABLE    the user PIN is the value of this environment variable\n",
    "Without a PIN option the PIN is asked for on the terminal, without echo; it is never taken\n"
    "from the command line. The library's own console lines go to standard error.\n"
    "Exit status: 0 on success, 1 on failure, 2 for a usage mistake.\n",
};

}  // namespace

int main(int argc, char** argv) {
    SeparateOutput();
    return kit::cli::RunTool(kTessal, argc, argv, Output());
}
