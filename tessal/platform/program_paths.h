// Where the library finds its program directory, driver libraries and log file.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Directory of the running program's executable, without a trailing slash.
std::string ProgramDirectory();

// The system directory of vendor driver families: "tessal/drivers" beside the loaded libtessal,
// which is $libdir/tessal/drivers of an installed library (also when the tree is staged or moved).
std::string SystemDriverDirectory();

// Directories searched, in order, for the vendor driver families: TESSAL_DRIVER_DIR alone when
// it is set, else the program directory and then the system directory.
std::vector<std::string> DriverDirectories();

// `dir` + "/" + `name`, without doubling the slash of the root directory.
std::string JoinPath(const std::string& dir, const std::string& name);

// Log file: TESSAL_LOG_FILE, else $HOME/.zyk/ZYKUKeyDriver.log.
std::string LogFilePath();

}  // namespace platform
