// The output file writer on Windows: the output is always replaced through a temporary file in
// its directory, which keeps the old file's read-only bit; an output fopen could not open for
// writing (read-only, a directory) is refused.
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "kit/output_file.h"
#include "kit/wide_text.h"

namespace kit {

OutputFileWriter::OutputFileWriter(const std::string& path) {
    const std::wstring wide = WidenUtf8(path);
    struct _stat64 st;
    if (_wstat64(wide.c_str(), &st) == 0) {
        if ((st.st_mode & _S_IFDIR) || _waccess(wide.c_str(), 2) != 0) {
            errno = EACCES;
            return;
        }
    } else if (errno != ENOENT) {
        return;
    }
    RemoveAbandonedTemporaries(path);
    auto writer = std::make_unique<AtomicFileWriter>(path);
    if (writer->IsOpen()) m_replacement = std::move(writer);
}

OutputFileWriter::~OutputFileWriter() = default;

bool OutputFileWriter::Write(const void* data, size_t size) {
    if (!m_replacement) {
        errno = EBADF;
        return false;
    }
    return m_replacement->Write(data, size);
}

bool OutputFileWriter::Commit() {
    if (!m_replacement) {
        errno = EBADF;
        return false;
    }
    bool done = m_replacement->Commit();
    m_replacement.reset();
    return done;
}

}  // namespace kit
