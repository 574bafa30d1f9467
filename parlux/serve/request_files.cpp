#include "serve/request_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/private_dirs.h"

namespace parlux::serve {

std::string DocumentExtension(const std::string& fileName) {
    size_t slash = fileName.find_last_of("/\\");
    std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot == std::string::npos) return "";
    std::string extension = base.substr(dot + 1);
    if (extension.empty() || extension.size() > 8) return "";
    for (char& c : extension) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return "";
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

RequestFiles::~RequestFiles() { Remove(); }

bool RequestFiles::Create(const std::string& extension) {
    m_dir = platform::MakePrivateDirectory("parlux-serve");
    if (m_dir.empty()) return false;
    m_source = m_dir + "/document" + (extension.empty() ? "" : "." + extension);
    m_target = m_dir + "/document.pdf";
    if (m_source == m_target) m_source = m_dir + "/upload.pdf";
    m_fd = open(m_source.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    return m_fd >= 0;
}

bool RequestFiles::Append(const char* data, size_t size) {
    while (size > 0 && m_fd >= 0) {
        ssize_t n = write(m_fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        m_bytes += static_cast<uint64_t>(n);
    }
    return m_fd >= 0;
}

bool RequestFiles::FinishDocument() {
    if (m_fd < 0) return false;
    bool closed = close(m_fd) == 0;
    m_fd = -1;
    return closed;
}

bool RequestFiles::Remove() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    if (m_dir.empty()) return true;
    platform::RemoveTree(m_dir);
    struct stat st;
    bool gone = lstat(m_dir.c_str(), &st) != 0 && errno == ENOENT;
    if (gone) m_dir.clear();
    return gone;
}

}  // namespace parlux::serve
