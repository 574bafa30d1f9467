// softkey: creates, plugs and inspects software SKF keys in a store directory.
#include "cli/commands.h"

using namespace softkey;
using namespace softkey::cli;
using kit::cli::Command;
using kit::cli::OptionSpec;

namespace {

// A command run on the store the options name: --store DIR, else $SOFTKEY_STORE, else ~/.softkey.
std::function<int(const Args&)> OnStore(int (*command)(const Store&, const Args&)) {
    return [command](const Args& a) { return command(Store(a.Option("--store", Store::DefaultRoot())), a); };
}

const std::vector<OptionSpec> kLibraryOptions = {{"root", true}, {"name", true}, {"family", true}, {"from", true}};

const kit::cli::Tool kSoftkey = {
    "softkey",
    "[--store DIR] COMMAND [ARGS...]",
    {{"store", true}},
    {
        {"create",
         "create --serial SN --vid HEX4 --pid HEX4 [--label L] [--app NAME] [--user-pin P]\n"
         "         [--admin-pin P] [--retries N] [--drivers NAME[,NAME...]]",
         {{"serial", true},
          {"vid", true},
          {"pid", true},
          {"label", true},
          {"app", true},
          {"user-pin", true},
          {"admin-pin", true},
          {"retries", true},
          {"drivers", true}},
         OnStore(CmdCreate)},
        {"plug", "plug SN", {}, OnStore(CmdPlug)},
        {"unplug", "unplug SN", {}, OnStore(CmdUnplug)},
        {"list", "list [--json]", {{"json", false}}, OnStore(CmdList)},
        {"show", "show SN [--json]", {{"json", false}}, OnStore(CmdShow)},
        {"delete", "delete SN", {}, OnStore(CmdDelete)},
        {"fault", "fault SN FUNCTION (CODE|unterminated|overlong) [--count N] [--arg TEXT] | fault SN clear",
         {{"count", true}, {"arg", true}}, OnStore(CmdFault)},
        {"install-driver", "install-driver --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]",
         kLibraryOptions, OnStore(CmdInstallDriver)},
        {"install-seal-library",
         "install-seal-library --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]", kLibraryOptions,
         OnStore(CmdInstallSealLibrary)},
        {"seal", "seal add SN NAME IMAGE [--time T] [--form ggzy|oes] | seal list SN",
         {{"time", true}, {"form", true}}, OnStore(CmdSeal)},
        {"file", "file put SN NAME PATH | file get SN NAME PATH | file list SN", {}, OnStore(CmdFile)},
        {"cert", "cert import SN CONTAINER (sign|enc) PATH | cert export SN CONTAINER (sign|enc) PATH", {},
         OnStore(CmdCert)},
        {"container",
         "container list SN | container create SN NAME (rsa1024|rsa2048|rsa4096|sm2)\n"
         "  container pubkey SN NAME (sign|enc) PATH",
         {}, OnStore(CmdContainer)},
        {"env", "env [--drivers DIR]", {{"drivers", true}}, OnStore(CmdEnv)},
    },
    "The store is --store DIR, else $SOFTKEY_STORE, else ~/.softkey.\n"
    "softkey --help | softkey COMMAND --help | softkey --version\n",
};

}  // namespace

int main(int argc, char** argv) { return kit::cli::RunTool(kSoftkey, argc, argv); }
