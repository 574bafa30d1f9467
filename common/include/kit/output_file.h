// An output file that a program writes where fopen(path, "wb") would, without ever leaving a
// partial or destroyed output behind on a failure.
//
// How the output is reached, in this order:
// - an existing output that is not a regular file (a FIFO, a device) is written in place;
// - a symbolic link is followed as fopen follows it, and what follows applies to its target;
// - a regular file with one link and the caller's ownership is replaced through a temporary file
//   in its directory that takes the old file's mode and group before the rename;
// - a regular file with several links or another owner (or in a directory the caller cannot
//   write) keeps its inode: it is written in place once the whole content is ready;
// - an output that the open of fopen would refuse (read-only, for one) is refused;
// - a new output is created with the mode the umask gives.
// Until Commit() the content is held in a temporary file (beside the output, or private in
// TMPDIR), so an abandoned writer leaves the output as it was.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "kit/atomic_file.h"

struct stat;

namespace kit {

class OutputFileWriter {
public:
    explicit OutputFileWriter(const std::string& path);
    ~OutputFileWriter();
    OutputFileWriter(const OutputFileWriter&) = delete;
    OutputFileWriter& operator=(const OutputFileWriter&) = delete;

    // False when the output cannot be written (errno tells why); nothing was changed then.
    bool IsOpen() const { return m_replacement || m_target >= 0; }
    // Appends `size` bytes to the content; false (errno set) when they could not be kept.
    bool Write(const void* data, size_t size);
    // Puts the whole content in place; false (errno set) on failure.
    bool Commit();

private:
    bool OpenReplacement(const std::string& target, const struct stat* old);
    bool OpenInPlace(int target, bool regular);
    bool CopyStagedContent();

    std::unique_ptr<AtomicFileWriter> m_replacement;
    int m_target = -1;  // the output itself, when written in place
    int m_staged = -1;  // the content until it is copied there
    bool m_targetIsRegular = false;
};

}  // namespace kit
