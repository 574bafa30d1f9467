// The per-user directories parlux keeps its files in, after the XDG base-directory rules.
#pragma once

#include <string>

namespace parlux::platform {

// "$<xdgVariable>/parlux" when that variable is set, otherwise "<home>/<homeFallback>/parlux"
// (the home from $HOME or the password database); empty when there is no home. Nothing is created.
std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback);

}  // namespace parlux::platform
