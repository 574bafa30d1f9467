// Where the tool takes PINs from: never the command line.
#pragma once

#include <string>

#include "kit/command_line.h"

namespace tessal_tool {

// The PIN from the first line of the file option's file ("-": standard input), else from the
// environment variable the env option names, else typed at the terminal without echo. `confirm`
// asks twice at the terminal. Throws kit::cli::UsageError when none of these gives a PIN.
std::string ReadPin(const kit::cli::Args& a, const char* fileOption, const char* envOption, const std::string& prompt,
                    bool confirm = false);

}  // namespace tessal_tool
