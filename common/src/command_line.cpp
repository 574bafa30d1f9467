#include "kit/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kit::cli {

const std::string& Args::At(size_t i, const char* what) const {
    if (i >= positional.size()) throw UsageError(std::string("missing ") + what);
    return positional[i];
}

std::string Args::Option(const std::string& name, const std::string& fallback) const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

Args ParseOptions(int argc, char** argv, const std::vector<OptionSpec>& specs, bool stopAtFirstWord, int* next) {
    std::vector<option> table;
    for (size_t i = 0; i < specs.size(); ++i)
        table.push_back({specs[i].name,
                         !specs[i].takesValue     ? no_argument
                         : specs[i].valueOptional ? optional_argument
                                                  : required_argument,
                         nullptr, static_cast<int>(256 + i)});
    table.push_back({"help", no_argument, nullptr, 'h'});
    table.push_back({nullptr, 0, nullptr, 0});
    // '+' stops at the first word, ':' reports a missing value apart from an unknown option.
    const char* shortOptions = stopAtFirstWord ? "+:h" : ":h";

    Args args;
    optind = 0;  // a full restart: each command line is parsed afresh
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, shortOptions, table.data(), nullptr)) != -1) {
        if (c == 'h') {
            args.options["--help"] = "";
        } else if (c == ':') {
            throw UsageError(std::string(argv[optind - 1]) + " needs a value");
        } else if (c == '?' && optopt >= 256) {
            throw UsageError(std::string("--") + specs[static_cast<size_t>(optopt - 256)].name + " takes no value");
        } else if (c == '?') {
            std::string word = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
            throw UsageError("unknown option " + word.substr(0, word.find('=')));
        } else {
            const OptionSpec& spec = specs[static_cast<size_t>(c - 256)];
            args.options[std::string("--") + spec.name] = optarg ? optarg : "";
        }
    }
    for (int i = optind; i < argc && !stopAtFirstWord; ++i) args.positional.push_back(argv[i]);
    if (next) *next = optind;
    return args;
}

unsigned long long ParseNumber(const std::string& text, unsigned long long min, unsigned long long max,
                               const std::string& what, int base) {
    // No sign, no blanks: only what the base's digits (and a 0x prefix) may spell.
    const char* digits = base == 10 ? "0123456789" : "0123456789abcdefABCDEFxX";
    bool plain = !text.empty() && text.find_first_not_of(digits) == std::string::npos;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = plain ? std::strtoull(text.c_str(), &end, base) : 0;
    if (!plain || *end != '\0' || errno)
        throw UsageError(what + " must be a number, not \"" + text + "\"");
    if (value < min || value > max)
        throw UsageError(what + " must be " + std::to_string(min) + " to " + std::to_string(max));
    return value;
}

std::string VersionLine(const std::string& program) { return program + " " + KIT_VERSION; }

namespace {

// `text` broken into lines of at most `width` characters, each after `indent` spaces but the first.
std::string Wrapped(const std::string& text, size_t indent, size_t width) {
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

}  // namespace

std::string ToolUsage(const Tool& tool) {
    // The layout help2man turns into a manual page: usage, summary, then sections of
    // "  TERM  description" lines.
    std::string text = std::string("Usage: ") + tool.name + " " + tool.synopsis + "\n" + tool.summary + "\n\nCommands:\n";
    const size_t column = 24;
    for (const Command& c : tool.commands) {
        std::string term = std::string("  ") + c.usage;
        text += term.size() + 2 <= column ? term + std::string(column - term.size(), ' ')
                                          : term + "\n" + std::string(column, ' ');
        text += Wrapped(c.description, column, 79) + "\n";
    }
    text += std::string("\nOptions:\n") + tool.optionsHelp +
            "  -h, --help            print this help (after a command: that command's) and exit\n"
            "      --version         print the version and exit\n\n" +
            tool.notes;
    return text;
}

namespace {

const Command& FindCommand(const Tool& tool, const std::string& name) {
    for (const Command& c : tool.commands)
        if (name == c.name) return c;
    throw UsageError("unknown command " + name);
}

}  // namespace

int RunTool(const Tool& tool, int argc, char** argv, FILE* out) {
    const Command* command = nullptr;
    try {
        std::vector<OptionSpec> globals = tool.globalOptions;
        globals.push_back({"version", false});
        int next = 0;
        Args global = ParseOptions(argc, argv, globals, true, &next);
        if (global.Has("--help")) return std::fputs(ToolUsage(tool).c_str(), out), 0;
        if (global.Has("--version")) return std::fprintf(out, "%s\n", VersionLine(tool.name).c_str()), 0;
        if (next >= argc) throw UsageError("no command given");
        command = &FindCommand(tool, argv[next]);
        std::vector<OptionSpec> options = command->options;
        options.insert(options.end(), tool.globalOptions.begin(), tool.globalOptions.end());
        Args args = ParseOptions(argc - next, argv + next, options);
        if (args.Has("--help"))
            return std::fprintf(out, "Usage: %s %s\n%s\n", tool.name, command->usage, command->description), 0;
        args.options.insert(global.options.begin(), global.options.end());  // the command's own win
        return command->run(args);
    } catch (const UsageError& e) {
        std::string usage =
            command ? std::string("Usage: ") + tool.name + " " + command->usage + "\n"
                    : std::string("Try '") + tool.name + " --help' for more information.\n";
        std::fprintf(stderr, "%s: %s\n%s", tool.name, e.what(), usage.c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", tool.name, e.what());
        return 1;
    }
}

}  // namespace kit::cli
