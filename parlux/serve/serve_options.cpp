#include "serve/serve_options.h"

#include <unistd.h>

#include <algorithm>

#include "kit/command_line.h"
#include "office_memory.h"

namespace parlux::serve {
namespace {

constexpr int kMaxSlots = 64;
constexpr int kMaxQueue = 1024;
constexpr int kDefaultUploadMb = 64;

// A whole decimal number in [low, high]; false for anything else.
bool Count(const kit::cli::Args& args, const char* name, long long low, long long high, long long& out) {
    if (!args.Has(name)) return true;
    try {
        out = static_cast<long long>(kit::cli::ParseNumber(args.Option(name), low, high, name));
        return true;
    } catch (const kit::cli::UsageError&) {
        return false;
    }
}

}  // namespace

bool ParseListen(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string address = text.substr(0, colon);
    if (address.front() == '[') {
        if (address.size() < 3 || address.back() != ']') return false;
        address = address.substr(1, address.size() - 2);
    } else if (address.find(':') != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    try {
        port = static_cast<int>(kit::cli::ParseNumber(text.substr(colon + 1), 0, 65535, "port"));
    } catch (const kit::cli::UsageError&) {
        return false;
    }
    host = address;
    return true;
}

bool ParseServeOptions(int argc, char** argv, ServeOptions& options) {
    static const std::vector<kit::cli::OptionSpec> kOptions = {
        {"listen", true}, {"jobs", true}, {"queue", true}, {"timeout-ms", true}, {"max-upload-mb", true},
        {"recycle", true}};
    kit::cli::Args args;
    try {
        args = kit::cli::ParseOptions(argc, argv, kOptions);
    } catch (const kit::cli::UsageError&) {
        return false;
    }
    if (!args.positional.empty() || args.Has("--help")) return false;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    long long jobs = cores > 0 ? std::min<long>(cores, kMaxSlots) : 1;
    long long queue = -1, timeout = 0, uploadMb = kDefaultUploadMb, recycle = options.pool.recycleAfter;
    if (args.Has("--listen") && !ParseListen(args.Option("--listen"), options.host, options.port)) return false;
    if (!Count(args, "--jobs", 1, kMaxSlots, jobs) || !Count(args, "--queue", 0, kMaxQueue, queue) ||
        !Count(args, "--timeout-ms", 1000, 3600000, timeout) || !Count(args, "--max-upload-mb", 1, 4096, uploadMb) ||
        !Count(args, "--recycle", 1, 1000000, recycle))
        return false;
    options.pool.slots = static_cast<int>(jobs);
    options.pool.recycleAfter = static_cast<int>(recycle);
    // An office is replaced before it nears the memory limit, as in a batch.
    options.pool.memoryLimitBytes = OfficeMemoryLimitBytes() / 4 * 3;
    options.queue = queue >= 0 ? static_cast<int>(queue) : 2 * options.pool.slots;
    options.timeoutMs = static_cast<int>(timeout);
    options.maxUploadBytes = static_cast<uint64_t>(uploadMb) << 20;
    return true;
}

}  // namespace parlux::serve
