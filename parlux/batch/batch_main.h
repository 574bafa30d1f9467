// "parlux --batch FILE|- [--jobs N] [--recycle N]": many conversions through a pool of offices.
#pragma once

namespace parlux {

constexpr const char* kBatchUsageLine = "Usage: parlux --batch FILE|- [--jobs N] [--recycle N]";

// Exit code 0 when every job succeeded, 1 otherwise, -1 for a malformed command line.
int batchMain(int argc, char** argv);

}  // namespace parlux
