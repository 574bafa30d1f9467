// The converter's UTF-8 log, shared by the parent and its worker.
#pragma once

#include <string>

namespace parlux {

enum LogLevel { kTrace = 0, kDebug = 1, kInfo = 2, kWarn = 3, kError = 4 };

constexpr long long kRotateBytes = 20971520;
constexpr int kLogLockWaitMs = 5000;

// Logs/convertLog.txt beside the program, created when missing; when that directory cannot be
// created, ${XDG_STATE_HOME:-$HOME/.local/state}/parlux/Logs/convertLog.txt.
std::string logFilePath();

// Appends one line to the log; never fails towards the caller.
void writeLog(LogLevel level, const std::string& message);
// The same into a given file (rotation and the cross-process lock included).
void writeLogTo(const std::string& path, LogLevel level, const std::string& message);

// "TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", else "UNKWN".
const char* levelText(int level);

}  // namespace parlux
