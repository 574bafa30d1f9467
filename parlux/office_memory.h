// The memory a conversion attempt may use.
#pragma once

#include <cstdint>

namespace parlux {

// The resident size an attempt's office and worker may hold together, in MB ("0": no limit);
// outside 256 to 1048576 the default holds. The supervisor ends an attempt that passes it.
constexpr const char* kMemoryVariable = "PARLUX_MEMORY_MB";
constexpr long long kDefaultMemoryMb = 4096, kMinMemoryMb = 256, kMaxMemoryMb = 1048576;
// The limit in bytes; 0 for none.
uint64_t OfficeMemoryLimitBytes();

}  // namespace parlux
