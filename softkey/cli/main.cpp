// softkey: creates, plugs and inspects software SKF keys in a store directory.
#include "cli/commands.h"
#include "core/fs_util.h"

using namespace softkey;
using namespace softkey::cli;
using kit::cli::OptionSpec;

namespace {

using StoreCommand = int (*)(const Store&, const Args&);

// The store the options name: --store DIR, else $SOFTKEY_STORE, else ~/.softkey.
Store NamedStore(const Args& a) { return Store(a.Option("--store", Store::DefaultRoot())); }

// A command run on an existing store: a directory that is not there is never made here, only
// by "store init".
std::function<int(const Args&)> OnStore(StoreCommand command) {
    return [command](const Args& a) {
        Store store = NamedStore(a);
        bool init = command == CmdStore && !a.positional.empty() && a.positional[0] == "init";
        if (!init && !store.Root().empty() && !softkey::IsDirectory(store.Root()))
            throw std::runtime_error("no store at " + store.Root() + "; run softkey store init");
        return command(store, a);
    };
}

// A command that writes outside any store (the library installs).
std::function<int(const Args&)> WithoutStore(StoreCommand command) {
    return [command](const Args& a) { return command(NamedStore(a), a); };
}

const std::vector<OptionSpec> kLibraryOptions = {{"root", true}, {"name", true}, {"family", true}, {"from", true}};

const kit::cli::Tool kSoftkey = {
    "softkey",
    "[--store DIR] COMMAND [ARGS...]",
    "Creates, plugs and inspects software SKF (GM/T 0016) keys kept in a store directory, and\n"
    "installs the software key library under the file names of vendor libraries.",
    {{"store", true}},
    {
        {"create",
         "create --serial SN --vid HEX4 --pid HEX4 [--label L] [--app NAME] [--user-pin P] [--admin-pin P] "
         "[--retries N] [--drivers NAME[,NAME...]] [--dev-auth-key HEX32] [--require-dev-auth]",
         "create a key, unplugged (defaults: application DEFAULT_APP, user PIN 12345678, administrator "
         "PIN 70315926, 6 tries, device authentication key \"1234567812345678\"; --drivers: the only "
         "library names that may open it; --require-dev-auth: creating and deleting applications needs "
         "device authentication)",
         {{"serial", true},
          {"vid", true},
          {"pid", true},
          {"label", true},
          {"app", true},
          {"user-pin", true},
          {"admin-pin", true},
          {"retries", true},
          {"drivers", true},
          {"dev-auth-key", true},
          {"require-dev-auth", false}},
         OnStore(CmdCreate)},
        {"plug", "plug SN", "attach the key to the virtual USB bus", {}, OnStore(CmdPlug)},
        {"unplug", "unplug SN", "remove the key from the virtual USB bus", {}, OnStore(CmdUnplug)},
        {"list", "list [--json]", "list the keys of the store", {{"json", false}}, OnStore(CmdList)},
        {"show", "show SN [--json]", "show a key: applications, PIN tries, containers, certificates, files",
         {{"json", false}}, OnStore(CmdShow)},
        {"delete", "delete SN", "unplug and delete a key with its faults and seals", {}, OnStore(CmdDelete)},
        {"fault", "fault SN FUNCTION (CODE|unterminated|overlong|oversized) [--count N] [--arg TEXT] | fault SN clear",
         "make the next N calls of an SKF function or seal library entry point fail or misbehave; clear "
         "removes the key's faults",
         {{"count", true}, {"arg", true}}, OnStore(CmdFault)},
        {"install-driver", "install-driver --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]",
         "install the software key library as DIR/FAMILY/LIBNAME", kLibraryOptions, WithoutStore(CmdInstallDriver)},
        {"install-seal-library",
         "install-seal-library --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]",
         "install the software seal library built for a catalogue seal library name", kLibraryOptions,
         WithoutStore(CmdInstallSealLibrary)},
        {"seal", "seal add SN NAME (IMAGE|-) [--time T] [--form ggzy|oes] | seal list SN",
         "add a seal to the key's seal list, or list them", {{"time", true}, {"form", true}}, OnStore(CmdSeal)},
        {"file", "file put SN NAME (PATH|-) | file get SN NAME (PATH|-) | file list SN",
         "write, read or list the files of the key's application", {}, OnStore(CmdFile)},
        {"cert", "cert import SN CONTAINER (sign|enc) (PATH|-) | cert export SN CONTAINER (sign|enc) (PATH|-)",
         "store a certificate (PEM or DER) in a container, or write one out as PEM", {}, OnStore(CmdCert)},
        {"container",
         "container list SN | container create SN NAME (rsa1024|rsa2048|rsa4096|sm2) | "
         "container pubkey SN NAME (sign|enc) (PATH|-)",
         "list containers, create one with a new signing key pair, or write a public key as PEM", {},
         OnStore(CmdContainer)},
        {"env", "env [--drivers DIR]",
         "print export lines of SOFTKEY_STORE, TESSAL_USB_SYSFS and TESSAL_DRIVER_DIR (default "
         "STORE/drivers) for eval in a shell",
         {{"drivers", true}}, OnStore(CmdEnv)},
        {"store", "store init [--force] | store upgrade",
         "init: make the store (the directory, when missing) and its store key (--force: replace a lost "
         "one; the existing keys stay refused until the old file is back); upgrade: take in key files of "
         "earlier versions as they stand",
         {{"force", false}}, OnStore(CmdStore)},
    },
    "  --store DIR           the store (else $SOFTKEY_STORE, else ~/.softkey); before or after the command\n",
    "A store is made by \"store init\"; every other command refuses a store directory that does\n"
    "not exist. \"-\" names standard input for an input and standard output for an output.\n"
    "Every command fails with a message on standard error and changes nothing on bad input.\n"
    "Exit status: 0 on success, 1 on failure, 2 for a usage mistake.\n",
};

}  // namespace

int main(int argc, char** argv) { return kit::cli::RunTool(kSoftkey, argc, argv); }
