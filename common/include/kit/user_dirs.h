// The per-user directories of the kit's programs and libraries.
#pragma once

#include <string>

namespace kit {

// $HOME when set, else the home of the effective user in the password database; empty when
// neither names one. Never a shared directory.
std::string HomeDirectory();

// Makes `path` and its missing parents with mode 0700, or accepts an existing `path` only when it
// is a real directory (not a symbolic link) owned by the effective user and not writable by group
// or others. False with the reason in `error` otherwise.
bool EnsurePrivateDirectory(const std::string& path, std::string& error);

}  // namespace kit
