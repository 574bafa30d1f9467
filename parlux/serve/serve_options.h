// "parlux serve [--listen ADDR:PORT] [--jobs N] [--queue N] [--timeout-ms T] [--max-upload-mb M]".
#pragma once

#include <cstdint>
#include <string>

#include "batch/worker_pool.h"

namespace parlux::serve {

constexpr const char* kServeUsageLine =
    "Usage: parlux serve [--listen ADDR:PORT] [--jobs N] [--queue N] [--timeout-ms T] [--max-upload-mb M]";

struct ServeOptions {
    std::string host = "127.0.0.1";  // the service has no authentication: loopback unless told
    int port = 8080;                  // 0: any free port
    batch::PoolOptions pool;          // slots: --jobs
    int queue = 0;                    // requests waiting for a worker beyond the running ones
    int timeoutMs = 0;                // 0: the converter's own (PARLUX_TIMEOUT_MS or its default)
    uint64_t maxUploadBytes = 0;
};

// Reads argv[1..argc) after the word "serve"; false for anything malformed.
bool ParseServeOptions(int argc, char** argv, ServeOptions& options);
// "ADDR:PORT" ("[v6]:PORT" for IPv6); false when malformed.
bool ParseListen(const std::string& text, std::string& host, int& port);

}  // namespace parlux::serve
