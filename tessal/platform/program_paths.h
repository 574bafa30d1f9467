// Where the library finds its program directory, driver libraries and log file.
#pragma once

#include <string>

namespace platform {

// Directory of the running program's executable, without a trailing slash.
std::string ProgramDirectory();

// Directory holding the vendor driver families: TESSAL_DRIVER_DIR, else the program directory.
std::string DriverDirectory();

// Log file: TESSAL_LOG_FILE, else $HOME/.zyk/ZYKUKeyDriver.log.
std::string LogFilePath();

}  // namespace platform
