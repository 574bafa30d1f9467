// The prepared LibreOffice profile each conversion starts from (a fresh profile makes the
// first start exit and restart).
#pragma once

#include <string>

namespace parlux::libreoffice {

// ${XDG_CACHE_HOME:-$HOME/.cache}/parlux, made private if new; empty with `error` set when it
// is not private (another owner, writable by others, a symbolic link) or there is no home.
std::string ProfileCacheDirectory(std::string& error);
// The template's directory, prepared once in the cache directory; empty with `error` set when it
// cannot be made or is not private.
std::string PreparedProfile(const std::string& cacheDir, std::string& error);
// Copies a directory tree; false on any failure.
bool CopyTree(const std::string& from, const std::string& to);

}  // namespace parlux::libreoffice
