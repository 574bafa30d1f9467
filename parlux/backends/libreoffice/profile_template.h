// The prepared LibreOffice profile each conversion starts from (a fresh profile makes the
// first start exit and restart).
#pragma once

#include <string>

namespace parlux::libreoffice {

// The template's directory, prepared once under ${XDG_CACHE_HOME:-$HOME/.cache}/parlux;
// empty with `error` set when it cannot be made.
std::string PreparedProfile(std::string& error);
// Copies a directory tree; false on any failure.
bool CopyTree(const std::string& from, const std::string& to);

}  // namespace parlux::libreoffice
