// Permissions of the files the converter hands to its user.
#pragma once

#include <sys/types.h>

namespace parlux::platform {

// The permissions a file created with mode 0666 gets under the process's umask (0644 under 022).
mode_t NewFilePermissions();

}  // namespace parlux::platform
