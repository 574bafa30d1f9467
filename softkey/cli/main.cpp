// softkey: creates, plugs and inspects software SKF keys in a store directory.
#include <cstdio>
#include <cstring>
#include <set>

#include "cli/commands.h"

using namespace softkey;
using namespace softkey::cli;

namespace {

const char kUsage[] =
    "usage: softkey [--store DIR] COMMAND ...\n"
    "  create --serial SN --vid HEX4 --pid HEX4 [--label L] [--app NAME] [--user-pin P]\n"
    "         [--admin-pin P] [--retries N] [--drivers NAME[,NAME...]]\n"
    "  plug SN | unplug SN | list | show SN | delete SN\n"
    "  fault SN FUNCTION (CODE|unterminated|overlong) [--count N] [--arg TEXT] | fault SN clear\n"
    "  install-driver --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]\n"
    "  install-seal-library --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]\n"
    "  seal add SN NAME IMAGE [--time T] [--form ggzy|oes] | seal list SN\n"
    "  file put SN NAME PATH | file get SN NAME PATH | file list SN\n"
    "  cert import SN CONTAINER (sign|enc) PATH | cert export SN CONTAINER (sign|enc) PATH\n"
    "  container list SN | container create SN NAME (rsa1024|rsa2048|rsa4096|sm2)\n"
    "  container pubkey SN NAME (sign|enc) PATH\n"
    "  store init [--force] | store upgrade\n"
    "The store is --store DIR, else $SOFTKEY_STORE, else ~/.softkey.\n";

// Options that take no value.
const std::set<std::string> kFlags = {"--force"};
// Options that take a value.
const std::set<std::string> kOptions = {"--store", "--serial", "--vid",     "--pid",   "--label",
                                        "--app",   "--user-pin", "--admin-pin", "--retries",
                                        "--drivers", "--count", "--arg",    "--root",  "--name",
                                        "--family", "--from",  "--time",  "--form"};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (kFlags.count(word)) {
            a.options[word] = "";
        } else if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
            if (!kOptions.count(word)) throw UsageError("unknown option " + word);
            if (i + 1 >= argc) throw UsageError(word + " needs a value");
            a.options[word] = argv[++i];
        } else {
            a.positional.push_back(word);
        }
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Args a = Parse(argc, argv);
        if (a.positional.empty()) throw UsageError("no command given");
        Store store(a.Option("--store", Store::DefaultRoot()));
        const std::string command = a.positional[0];
        a.positional.erase(a.positional.begin());
        if (command == "create") return CmdCreate(store, a);
        if (command == "plug") return CmdPlug(store, a);
        if (command == "unplug") return CmdUnplug(store, a);
        if (command == "list") return CmdList(store, a);
        if (command == "show") return CmdShow(store, a);
        if (command == "delete") return CmdDelete(store, a);
        if (command == "fault") return CmdFault(store, a);
        if (command == "install-driver") return CmdInstallDriver(store, a);
        if (command == "install-seal-library") return CmdInstallSealLibrary(store, a);
        if (command == "seal") return CmdSeal(store, a);
        if (command == "file") return CmdFile(store, a);
        if (command == "cert") return CmdCert(store, a);
        if (command == "container") return CmdContainer(store, a);
        if (command == "store") return CmdStore(store, a);
        throw UsageError("unknown command " + command);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "softkey: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "softkey: %s\n", e.what());
        return 1;
    }
}
