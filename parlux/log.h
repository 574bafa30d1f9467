// The converter's UTF-8 log, shared by the parent and its worker.
#pragma once

#include <string>

namespace parlux {

enum LogLevel { kTrace = 0, kDebug = 1, kInfo = 2, kWarn = 3, kError = 4 };

constexpr long long kRotateBytes = 20971520;
constexpr int kLogLockWaitMs = 5000;

// Logs/convertLog.txt beside the program, created when missing. A program installed in the
// system's directories, or one whose Logs directory cannot be created, logs to convertLog.txt in
// the user's log directory (platform::UserLogDirectory) instead.
std::string logFilePath();
// The same for the program at `program`.
std::string logFilePathFor(const std::string& program);

// Appends one line to the log; never fails towards the caller.
void writeLog(LogLevel level, const std::string& message);
// The same into a given file (rotation and the cross-process lock included). The line is in the
// file at once; it is flushed to the disk with a later line at most a second after the last
// flush, or at exit.
void writeLogTo(const std::string& path, LogLevel level, const std::string& message);

// "TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", else "UNKWN".
const char* levelText(int level);

}  // namespace parlux
