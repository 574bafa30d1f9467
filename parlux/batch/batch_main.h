// "parlux --batch FILE|- [--jobs N] [--recycle N]": many conversions through a pool of offices.
#pragma once

#include "kit/command_line.h"

namespace parlux {

constexpr const char* kBatchUsageLine = "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]";

// `args`: the program's options and words, null when they could not be parsed. Exit code 0
// when every job succeeded, 1 otherwise, 12 (output_failed) when the result
// lines cannot be written, -1 for a malformed command line.
int batchMain(const kit::cli::Args* args);

}  // namespace parlux
