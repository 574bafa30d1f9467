// The private directory of one request: the uploaded document and its PDF, removed (and the
// removal checked) once the answer no longer needs them.
#pragma once

#include <cstdint>
#include <string>

namespace parlux::serve {

// The lowered extension of an uploaded file name ("report.DOCX" -> "docx"); empty when the name
// has none of 1 to 8 letters and digits. Nothing else of the name is ever used.
std::string DocumentExtension(const std::string& fileName);

class RequestFiles {
public:
    RequestFiles() = default;
    ~RequestFiles();
    RequestFiles(const RequestFiles&) = delete;
    RequestFiles& operator=(const RequestFiles&) = delete;

    // Makes the directory (mode 0700 under $TMPDIR) and opens the document file in it, named
    // "document.<extension>"; false with errno on failure.
    bool Create(const std::string& extension);
    // Appends upload bytes to the document; false once writing failed.
    bool Append(const char* data, size_t size);
    // Closes the document file; false when its last writes failed.
    bool FinishDocument();
    uint64_t DocumentBytes() const { return m_bytes; }
    const std::string& Source() const { return m_source; }
    const std::string& Target() const { return m_target; }
    // Removes the directory and everything in it; whether it is gone.
    bool Remove();

private:
    std::string m_dir, m_source, m_target;
    int m_fd = -1;
    uint64_t m_bytes = 0;
};

}  // namespace parlux::serve
