// The batch and the service on Windows: both need the pool of serving workers, which has no
// Win32 supervision yet. Each says so on standard error and exits with invalid_arguments.
#include <cstdio>

#include "batch/batch_main.h"
#include "records.h"
#include "serve/serve_main.h"

namespace parlux {
namespace {

int Unavailable(const char* what) {
    std::fprintf(stderr, "parlux %s is not available on Windows.\n", what);
    return kInvalidArguments;
}

}  // namespace

int batchMain(const kit::cli::Args*) { return Unavailable("--batch"); }

int serveMain(int, char**) { return Unavailable("serve"); }

}  // namespace parlux
