// Splitting a path into its directory and its last name, as the file writers need it.
#pragma once

#include <string>

namespace kit {

// The directory of `path`: "." for a bare name, "/" for a name in the root.
inline std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// `path` up to and including its last "/" (empty for a bare name): what a sibling's name follows.
inline std::string DirectoryPrefixOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

inline std::string BaseNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kit
