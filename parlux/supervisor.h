// Supervision of one conversion attempt: the worker process, its messages, its time limit and
// the cleanup of the office process it started.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "providers.h"
#include "records.h"
#include "worker.h"

namespace parlux {

// What the parent has heard from one worker.
struct WorkerChannel {
    int readEnd = -1;
    std::string requestId;
    Provider provider = Provider::Microsoft;
    ConversionProgress lastProgress{};
    bool resultReceived = false;
};

int32_t runWorker(Provider provider, DocumentKind kind, const std::string& sourcePath, const std::string& outputPath,
                  int timeoutMs, const std::string& requestId, ConversionResult& result);
// Reads every complete message waiting in the pipe; a partial one stays for the next pass.
void drainWorkerPipe(WorkerChannel& channel, ConversionResult& result);
// Whether the office process is gone or needs no cleanup; `notBefore` is the worker's start time.
bool cleanupOfficeProcess(const ProcessIdentity& identity, Provider provider, DocumentKind kind, uint64_t notBefore,
                          const std::string& requestId);
// A pidfd on `pid` when it is still the expected office process, else -1.
int revalidateOfficeProcess(uint32_t pid, Provider provider, DocumentKind kind, uint64_t notBefore);

}  // namespace parlux
