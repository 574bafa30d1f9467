// A file written beside its final path and moved onto that path only once it is complete, so
// readers see either the old file or the whole new one, never a partial file.
#pragma once

#include <cstddef>
#include <string>

namespace kit {

class AtomicFileWriter {
public:
    // Creates the temporary file in the directory of `path` (permissions `mode`, less the umask).
    // Its name stays within NAME_MAX and records the writer (pid and start time); the writer holds
    // a lock on it until it is renamed or removed.
    explicit AtomicFileWriter(const std::string& path, int mode = 0666);
    // Removes the temporary file unless Commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False when the temporary file could not be created (errno tells why).
    bool IsOpen() const { return m_fd >= 0; }
    // Gives the temporary file exactly `mode` (umask not applied) and the group `group`; false
    // (errno set) when that is not allowed.
    bool SetModeAndGroup(unsigned mode, unsigned group);
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
// `finalName` (left behind when the writer was killed, or still being written).
bool IsAtomicFileTemporary(const std::string& name, const std::string& finalName);

// Removes the temporary files that writers of `path` left in its directory when they were
// killed: only those whose writer is gone (no process with the recorded pid and start time, and
// nobody holding the file's lock), never one that may still be written.
void RemoveAbandonedTemporaries(const std::string& path);

}  // namespace kit
