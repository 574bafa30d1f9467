// parlux's command lines over arbitrary arguments (the input split on NUL bytes): the converter's
// own, its options and the worker's, each either accepted with sound values or refused as a usage
// error; and the supervisor's quoting of the worker's arguments, which must split back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert.h"
#include "program_line.h"
#include "records.h"
#include "supervision_text.h"
#include "worker.h"

namespace {

// The whole decimal text of a descriptor argument gives back the descriptor.
bool SameNumber(const char* text, int value) { return std::strtoll(text, nullptr, 10) == value; }

void CheckWorker(int argc, char** argv) {
    parlux::WorkerArguments args;
    if (!parlux::parseWorkerArguments(argc, argv, args)) return;
    if ((args.kind != 1 && args.kind != 2) || args.pipeFd < -1 || args.cancelFd < -1 ||
        !SameNumber(argv[6], args.pipeFd) || !SameNumber(argv[7], args.cancelFd) || args.source != argv[4] ||
        args.output != argv[5])
        abort();
}

void CheckConverter(int argc, char** argv) {
    parlux::CommandLine line;
    std::string error;
    int32_t code = parlux::parseCommandLine(argc, argv, line, error);
    if (code == parlux::kInvalidArguments && !error.empty()) return;
    if (code != parlux::kSuccess || (line.provider != "" && line.provider != "ms" && line.provider != "wps")) abort();
}

// The program's options: accepted or refused, never more words than were given. Last, since the
// option parser reorders argv.
void CheckProgramLine(int argc, char** argv) {
    kit::cli::Args args;
    if (parlux::parseProgramLine(argc, argv, args) &&
        args.positional.size() >= static_cast<size_t>(argc))
        abort();
    parlux::namesBatch(argc, argv);
}

void CheckQuoting(const std::vector<std::string>& arguments) {
    std::string commandLine;
    for (const std::string& argument : arguments)
        commandLine += (commandLine.empty() ? "" : " ") + parlux::quoteArgument(argument);
    if (parlux::splitQuotedArguments(commandLine) != arguments) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments{"parlux"};
    for (size_t start = 0;;) {
        size_t end = text.find('\0', start);
        arguments.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(arguments.size());

    CheckWorker(argc, argv.data());
    CheckConverter(argc, argv.data());
    CheckQuoting(arguments);
    CheckProgramLine(argc, argv.data());
    parlux::splitQuotedArguments(text);
    return 0;
}
