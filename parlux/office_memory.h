// The memory an office process may use.
#pragma once

#include <cstdint>

namespace parlux {

// The office's address-space limit in MB ("0": none); outside 256 to 1048576 the default holds.
constexpr const char* kMemoryVariable = "PARLUX_MEMORY_MB";
constexpr long long kDefaultMemoryMb = 4096, kMinMemoryMb = 256, kMaxMemoryMb = 1048576;
// The limit in bytes; 0 for none.
uint64_t OfficeMemoryLimitBytes();

}  // namespace parlux
