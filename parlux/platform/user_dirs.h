// The per-user directories parlux keeps its files in, after the XDG base-directory rules.
#pragma once

#include <string>

namespace parlux::platform {

// "$<xdgVariable>/parlux" when that variable is set, otherwise "<home>/<homeFallback>/parlux"
// (the home from $HOME or the password database); empty when there is no home. Nothing is created.
std::string ParluxUserDirectory(const char* xdgVariable, const char* homeFallback);

// Whether the program lies in the system's directories (under /usr, /bin, /sbin or /opt), where
// nothing is written beside it.
bool InstalledInSystemDirectory(const std::string& program);
// Where the log goes when it cannot lie beside the program: "$XDG_STATE_HOME/parlux", else
// "/var/log/parlux" for root and "<home>/.local/state/parlux" for other users; empty when there
// is no home or the home lies in the system's directories. Nothing is created.
std::string UserLogDirectory();

}  // namespace parlux::platform
