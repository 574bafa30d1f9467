// A bounded reader of compound files (the structured storage of legacy Office documents):
// only the header and the directory, never trusting sizes or chains it reads.
#pragma once

#include <string>
#include <vector>

namespace parlux::platform {

struct StorageEntry {
    std::u16string name;
    int type;  // 1 storage, 2 stream, 5 root
};

enum class StorageProbe { Compound, NotCompound, Unreadable };

// Whether `path` starts with the compound-file signature.
StorageProbe ProbeCompoundFile(const std::string& path, int* errnoOut = nullptr);

// The children of the root storage; false when the file or its directory is damaged.
bool ListRootEntries(const std::string& path, std::vector<StorageEntry>& entries);

}  // namespace parlux::platform
