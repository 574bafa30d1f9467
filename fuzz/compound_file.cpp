// The compound-file reader over arbitrary file contents (headers, FAT chains, directory
// loops), given the file by path as the converter does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("compound", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) abort();

    parlux::platform::ProbeCompoundFile(path);
    std::vector<parlux::platform::StorageEntry> entries;
    parlux::platform::ListRootEntries(path, entries);
    return 0;
}
