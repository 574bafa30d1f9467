// A file written beside its final path and moved onto that path only once it is complete, so
// readers see either the old file or the whole new one, never a partial file.
#pragma once

#include <cstddef>
#include <string>

namespace kit {

class AtomicFileWriter {
public:
    // Creates the temporary file in the directory of `path` (permissions `mode`, less the umask).
    explicit AtomicFileWriter(const std::string& path, int mode = 0666);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False when the temporary file could not be created (errno tells why).
    bool IsOpen() const { return m_fd >= 0; }
    // Appends `size` bytes; false (errno set) when they could not all be written.
    bool Write(const void* data, size_t size);
    // Flushes the data to disk and renames the file onto the final path; false (errno set, the
    // temporary file removed, the final path as it was) on failure.
    bool Commit();

private:
    void Discard();

    std::string m_path;
    std::string m_tempPath;
    int m_fd = -1;
};

// Whether the file name `name` is a temporary file an AtomicFileWriter made for a file named
// `finalName` (left behind when the writer was killed).
bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName);

}  // namespace kit
