// tessal: the attached keys, their PIN, certificates and signatures, through libtessal.
#include "commands.h"
#include "tool_io.h"

using namespace tessal_tool;

namespace {

const kit::cli::Tool kTessal = {
    "tessal",
    "[--key ID] [--json] COMMAND [ARGS...]",
    {{"key", true}, {"json", false}, {"pin-file", true}, {"pin-env", true}},
    {
        {"keys", "keys [--json]", {}, CmdKeys},
        {"pin",
         "pin verify | pin change | pin unblock\n"
         "      [--pin-file FILE|--pin-env VAR] [--new-pin-file FILE|--new-pin-env VAR]",
         {{"new-pin-file", true}, {"new-pin-env", true}}, CmdPin},
        {"cert", "cert show [--enc] [--json] | cert export [--enc] [--der] (FILE|-)", {{"enc", false}, {"der", false}},
         CmdCert},
        {"sign", "sign [--detached|--seal] [--require-time-stamp] INPUT OUTPUT",
         {{"detached", false}, {"seal", false}, {"require-time-stamp", false}}, CmdSign},
        {"verify", "verify SIGNATURE [CONTENT]", {}, CmdVerify},
    },
    "--key ID chooses the key (else the library's current key). PINs come from --pin-file FILE\n"
    "(its first line), --pin-env VARIABLE, or a prompt without echo; never from the command line.\n"
    "sign writes DER: a PKCS#7 signed data (with a time-stamp when the time service answers), or\n"
    "with --seal the SM2 signature of an SM2 key. verify exits 0 when the signature verifies, else 1.\n"
    "tessal --help | tessal COMMAND --help | tessal --version\n",
};

}  // namespace

int main(int argc, char** argv) {
    SeparateOutput();
    return kit::cli::RunTool(kTessal, argc, argv, Output());
}
