// Command-line parsing shared by the kit's tools: getopt_long options, strict numbers, the
// usage-error convention (exit 2) and the version line.
#pragma once

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

}  // namespace kit::cli
