// The program's options (help, version, the batch's) apart from the words of a conversion.
#pragma once

#include <string>

#include "kit/command_line.h"

namespace parlux {

// Splits argv[1..argc) into options ("--opt value" or "--opt=value", anywhere before "--") and
// words; false for an unknown option or one without its value.
bool parseProgramLine(int argc, char** argv, kit::cli::Args& args);
// Whether the words before "--" ask for a batch, however the rest of them are formed.
bool namesBatch(int argc, char** argv);
// What --help prints.
std::string helpText();

}  // namespace parlux
