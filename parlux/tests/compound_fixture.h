// Compound files made in tests: a header, one FAT sector, one directory sector and a 4096-byte
// stream per name (an encrypted Office package holds "EncryptionInfo" and "EncryptedPackage").
#pragma once

#include <string>
#include <vector>

namespace parlux::testing {

// `streams` holds at most three names of at most 31 characters, in the directory's order
// (shorter names first, as the red-black tree of a compound file sorts them).
std::string CompoundFileBytes(const std::vector<std::string>& streams);

}  // namespace parlux::testing
