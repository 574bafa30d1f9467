// The jobs a parent sends to a serving worker: provider, document kind, source and output path.
#pragma once

#include <cstdint>
#include <string>

#include "providers.h"

namespace parlux {

struct JobRecord {
    Provider provider = Provider::Microsoft;
    DocumentKind kind = DocumentKind::WordDocument;
    std::string source;
    std::string output;
};

// The longest path a job carries.
constexpr uint32_t kMaxJobPathBytes = 65536;

// One framed record: "PLXJ", provider, kind, the two path lengths (u32 each), then the paths.
std::string EncodeJob(const JobRecord& job);
// Writes the whole record; false when the reader is gone.
bool WriteJob(int fd, const JobRecord& job);
// Blocks for the next record; false at the end of the stream, on a malformed record, or when a
// signal interrupts the wait.
bool ReadJob(int fd, JobRecord& job);

}  // namespace parlux
