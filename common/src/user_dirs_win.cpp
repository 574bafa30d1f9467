// The user's directories on Windows.
#include <windows.h>

#include <cstdlib>

#include "kit/user_dirs.h"
#include "kit/wide_text.h"

namespace kit {

std::string HomeDirectory() {
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile ? NarrowToUtf8(profile) : std::string();
}

// Checking that a directory is the user's alone needs its security descriptor (owner and the
// access list), which is not written yet: refuse rather than report an unchecked directory.
bool EnsurePrivateDirectory(const std::string& path, std::string& error) {
    error = "checking that " + path + " is private is not available on Windows yet";
    return false;
}

}  // namespace kit
