// Driver handles and memory over many signatures: resident size at start and end, and the hash
// handles the software key still holds open.
//   handle_bench DRIVER_PATH     (BENCH_ROUNDS signatures of each kind, 20000 by default)
// scripts/bench.sh prepares the keys and runs it after sign_bench.
#include <dlfcn.h>
#include <tessal/tessal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "skf/skf.h"

namespace {

constexpr ULONG kHashHandles = 4;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    return -1;
}

int Fail(const char* what) {
    std::fprintf(stderr, "%s failed: %s\n", what, ZYKGetLastError().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: handle_bench DRIVER_PATH\n");
        return 2;
    }
    const int rounds = std::getenv("BENCH_ROUNDS") ? std::atoi(std::getenv("BENCH_ROUNDS")) : 20000;
    if (ZYKVerifyPin("12345678", "DEMO0001") != -1) return Fail("ZYKVerifyPin DEMO0001");
    // The driver instance the library loaded, for its handle count.
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
    auto count = lib ? reinterpret_cast<ULONG (*)(ULONG)>(dlsym(lib, "SOFTKEY_CountOpenHandles")) : nullptr;
    if (!count) return Fail("finding the driver's SOFTKEY_CountOpenHandles");

    std::string data = "document", signature;
    if (!ZYKSignData(data, "12345678", signature)) return Fail("ZYKSignData");
    long start = ResidentKiB();
    ULONG handlesAtStart = count(kHashHandles);
    for (int i = 0; i < rounds; ++i)
        if (!ZYKSignData(data, "12345678", signature)) return Fail("ZYKSignData");
    long afterRsa = ResidentKiB();
    if (ZYKVerifyPin("12345678", "DEMO0002") != -1) return Fail("ZYKVerifyPin DEMO0002");
    for (int i = 0; i < rounds; ++i)
        if (!ZYKSignSM2Digest("AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=", signature)) return Fail("ZYKSignSM2Digest");
    long end = ResidentKiB();
    std::printf("%d x ZYKSignData, then %d x ZYKSignSM2Digest\n", rounds, rounds);
    std::printf("resident KiB: start %ld, after ZYKSignData %ld, end %ld\n", start, afterRsa, end);
    std::printf("open hash handles of the driver: start %lu, end %lu\n", static_cast<unsigned long>(handlesAtStart),
                static_cast<unsigned long>(count(kHashHandles)));
    return 0;
}
