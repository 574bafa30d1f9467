// softkey: creates, plugs and inspects software SKF keys in a store directory.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

using namespace softkey;
using namespace softkey::cli;
using kit::cli::OptionSpec;

namespace {

// One subcommand: its name, its usage line(s) after "softkey ", its options and its work.
struct Command {
    const char* name;
    const char* usage;
    std::vector<OptionSpec> options;
    int (*run)(const Store&, const Args&);
};

const std::vector<OptionSpec> kLibraryOptions = {{"root", true}, {"name", true}, {"family", true}, {"from", true}};

const std::vector<Command> kCommands = {
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
     CmdCreate},
    {"plug", "plug SN", {}, CmdPlug},
    {"unplug", "unplug SN", {}, CmdUnplug},
    {"list", "list [--json]", {{"json", false}}, CmdList},
    {"show", "show SN [--json]", {{"json", false}}, CmdShow},
    {"delete", "delete SN", {}, CmdDelete},
    {"fault", "fault SN FUNCTION (CODE|unterminated|overlong) [--count N] [--arg TEXT] | fault SN clear",
     {{"count", true}, {"arg", true}}, CmdFault},
    {"install-driver", "install-driver --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]",
     kLibraryOptions, CmdInstallDriver},
    {"install-seal-library", "install-seal-library --root DIR --name LIBNAME [--family FAMILY] [--from LIBRARY]",
     kLibraryOptions, CmdInstallSealLibrary},
    {"seal", "seal add SN NAME IMAGE [--time T] [--form ggzy|oes] | seal list SN",
     {{"time", true}, {"form", true}}, CmdSeal},
    {"file", "file put SN NAME PATH | file get SN NAME PATH | file list SN", {}, CmdFile},
    {"cert", "cert import SN CONTAINER (sign|enc) PATH | cert export SN CONTAINER (sign|enc) PATH", {}, CmdCert},
    {"container",
     "container list SN | container create SN NAME (rsa1024|rsa2048|rsa4096|sm2)\n"
     "  container pubkey SN NAME (sign|enc) PATH",
     {}, CmdContainer},
    {"env", "env [--drivers DIR]", {{"drivers", true}}, CmdEnv},
};

std::string Usage() {
    std::string text = "usage: softkey [--store DIR] COMMAND [ARGS...]\n";
    for (const Command& c : kCommands) text += std::string("  ") + c.usage + "\n";
    text +=
        "The store is --store DIR, else $SOFTKEY_STORE, else ~/.softkey.\n"
        "softkey --help | softkey COMMAND --help | softkey --version\n";
    return text;
}

const Command& Find(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return c;
    throw UsageError("unknown command " + name);
}

}  // namespace

int main(int argc, char** argv) {
    const Command* command = nullptr;
    try {
        int next = 0;
        Args global = kit::cli::ParseOptions(argc, argv, {{"store", true}, {"version", false}}, true, &next);
        if (global.Has("--help")) return std::fputs(Usage().c_str(), stdout), 0;
        if (global.Has("--version")) return std::puts(kit::cli::VersionLine("softkey").c_str()), 0;
        if (next >= argc) throw UsageError("no command given");
        command = &Find(argv[next]);
        std::vector<OptionSpec> options = command->options;
        options.push_back({"store", true});  // also accepted after the command
        Args a = kit::cli::ParseOptions(argc - next, argv + next, options);
        if (a.Has("--help")) return std::printf("usage: softkey %s\n", command->usage), 0;
        Store store(a.Option("--store", global.Option("--store", Store::DefaultRoot())));
        return command->run(store, a);
    } catch (const UsageError& e) {
        std::string usage = command ? std::string("usage: softkey ") + command->usage + "\n" : Usage();
        std::fprintf(stderr, "softkey: %s\n%s", e.what(), usage.c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "softkey: %s\n", e.what());
        return 1;
    }
}
