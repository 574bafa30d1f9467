// Private directories of one conversion attempt.
#pragma once

#include <string>

namespace parlux::platform {

// A new directory "<$TMPDIR or /tmp>/<prefix>-XXXXXX", mode 0700; empty with errno on failure.
std::string MakePrivateDirectory(const std::string& prefix);
// Removes a directory tree without following the links inside it; failures are ignored.
void RemoveTree(const std::string& path);

}  // namespace parlux::platform
