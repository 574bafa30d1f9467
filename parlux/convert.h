// One run of the converter: arguments, source checks, providers in order, the committed PDF.
#pragma once

#include <cstdint>
#include <string>

namespace parlux {

constexpr const char* kUsageLine = "Usage: Parlux.exe source_file target_pdf [ms|wps]";

// The converter's command line: source, target and the provider asked for ("" for any).
struct CommandLine {
    std::string source, target, provider;
};
// kSuccess, or kInvalidArguments with the line to print in `error`. The paths come back full.
int32_t parseCommandLine(int argc, char** argv, CommandLine& line, std::string& error);
int32_t convertDocument(int argc, char** argv);
// The closing line of every unsuccessful conversion.
void logRejection(int32_t code);
// The program: a worker run when argv[1] is "--parlux-worker", the service when it is "serve"; else the options are read
// (--help, --version, --batch and its own) and what is left is a conversion's words.
int parluxMain(int argc, char** argv);

}  // namespace parlux
