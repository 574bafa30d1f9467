// A zip archive written entry by entry, each entry's bytes deflated as they come, so that a part
// of hundreds of megabytes is never held in memory or written out uncompressed.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace parlux::testing {

class ZipWriter {
public:
    explicit ZipWriter(const std::string& path);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    void Begin(const std::string& name);
    // Appends to the entry begun last.
    void Write(const std::string& bytes);
    void End();
    // Writes the central directory and closes the file; whether every step succeeded.
    bool Finish();

private:
    struct Entry {
        std::string name;
        uint32_t crc = 0, compressed = 0, size = 0, offset = 0;
    };
    void Deflate(const void* data, size_t size, int flush);
    void Put(const std::string& bytes);

    FILE* m_file = nullptr;
    bool m_ok = false;
    z_stream m_stream{};
    std::vector<Entry> m_entries;
};

}  // namespace parlux::testing
