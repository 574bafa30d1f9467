// The per-user directories parlux keeps its files in, after the XDG base-directory rules.
#pragma once

#include <string>

namespace parlux::platform {

// "$<xdgVariable>/parlux" when that variable is set, otherwise "$HOME/<homeFallback>/parlux"
// ("/tmp" standing in for an unset HOME). Nothing is created.
std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback);

}  // namespace parlux::platform
