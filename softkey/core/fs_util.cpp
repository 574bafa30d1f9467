#include "core/fs_util.h"

#include <errno.h>

#include <cstring>
#include <stdexcept>

#include "kit/atomic_file.h"
#include "kit/hex.h"
#include "platform/files.h"

namespace softkey {
namespace {

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void WriteFileAtomic(const std::string& path, const std::string& data, int mode) {
    kit::AtomicFileWriter file(path, mode);
    if (!file.IsOpen()) Fail("cannot create a temporary file for", path);
    if (!file.Write(data.data(), data.size())) Fail("cannot write", path);
    if (!file.Commit()) Fail("cannot replace", path);
}

void MakeDirs(const std::string& path) {
    if (path.empty() || IsDirectory(path)) return;
    MakeDirs(ParentOf(path));
    if (!platform::MakeDirectory(path)) Fail("cannot create directory", path);
}

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (!platform::SystemRandom(&raw[0], bytes))
        throw std::runtime_error("no random bytes available");
    return HexText(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

std::string HexText(const unsigned char* data, size_t len) { return kit::HexText(data, len); }

}  // namespace softkey
