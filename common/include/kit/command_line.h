// Command-line parsing shared by the kit's tools: getopt_long options, strict numbers, the
// usage-error convention (exit 2) and the version line.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kit::cli {

// A mistake in how a tool was called: reported with the usage text, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char* name;  // long name without the dashes: "serial"
    bool takesValue;
    bool valueOptional = false;  // with takesValue: only "--opt=value" gives it one
};

// The words of a command line: options by long name with dashes ("--serial" -> value; "" for
// flags) and the positional words in order.
struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    const std::string& At(size_t i, const char* what) const;
    std::string Option(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const { return options.count(name) > 0; }
};

// Parses argv[0..argc) (argv[0] names the program or command) with getopt_long: "--opt=value"
// and "--opt value" both work, "--" ends the options. -h/--help is always known and recorded
// as "--help". With `stopAtFirstWord`, parsing stops at the first positional word and `*next`
// is its index (the global options before a subcommand); otherwise options and words may mix.
// Throws UsageError on an unknown option or a missing value.
Args ParseOptions(int argc, char** argv, const std::vector<OptionSpec>& specs, bool stopAtFirstWord = false,
                  int* next = nullptr);

// A whole number in [min, max] written in `base` (0: decimal, 0x hex or 0 octal); anything else,
// signs and trailing characters included, is a UsageError naming `what`.
unsigned long long ParseNumber(const std::string& text, unsigned long long min, unsigned long long max,
                               const std::string& what, int base = 10);

// "PROGRAM VERSION": the kit's version as the build set it.
std::string VersionLine(const std::string& program);

// A tool made of subcommands ("softkey plug SN"), each with its own options.
struct Command {
    const char* name;
    const char* usage;        // after "PROGRAM ", one line: "plug SN"
    const char* description;  // one line: "plug the key into the virtual USB bus"
    std::vector<OptionSpec> options;
    std::function<int(const Args&)> run;
};

struct Tool {
    const char* name;
    const char* synopsis;  // after "Usage: PROGRAM ": "[--store DIR] COMMAND [ARGS...]"
    const char* summary;   // what the tool is for, one paragraph
    std::vector<OptionSpec> globalOptions;  // before the command or among its own options
    std::vector<Command> commands;
    const char* optionsHelp;  // "  --store DIR  ...\n" lines of the global options
    const char* notes;        // closing paragraphs of --help
};

// The whole usage text of --help.
std::string ToolUsage(const Tool& tool);

// Parses the command line, runs the command and returns the exit status: -h/--help and --version
// print to standard output (0); usage mistakes print the message and the usage to standard error
// (2); a failure of the command (an exception) prints its message to standard error (1). The
// command sees the global options merged under its own. Help and version go to `out`.
int RunTool(const Tool& tool, int argc, char** argv, FILE* out = stdout);

}  // namespace kit::cli
