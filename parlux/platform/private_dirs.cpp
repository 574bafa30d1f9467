#include "platform/private_dirs.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

namespace parlux::platform {

std::string MakePrivateDirectory(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}

}  // namespace parlux::platform
