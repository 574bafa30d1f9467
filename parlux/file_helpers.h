// Path forms and file checks of the converter.
#pragma once

#include <string>

#include "records.h"

namespace parlux {

// Absolute and lexically normalised ("." and ".." removed, no doubled slashes); `path` itself
// when it cannot be resolved.
std::string fullPath(const std::string& path);
// On Linux the long form is the full form; prefixed Windows forms are stripped first.
std::string toLongPath(const std::string& path);
std::string stripLongPathPrefix(const std::string& path);
// The form handed to the office back end: the full form when it has at most `limit`
// characters (UTF-16 units), else empty (Linux has no short names).
std::string officePath(const std::string& path, size_t limit = 259);
// The same file: by identity when both exist, else by their full forms (case-sensitive).
bool samePath(const std::string& a, const std::string& b);
// A fresh "plxNNNNN.pdf" in the target's directory (created exclusively, then removed).
bool makeTempOutputPath(const std::string& target, std::string& out);
bool isValidPdf(const std::string& path);
// kSuccess, kSourceBusy (another process holds a write lock on it, or a live LibreOffice lock
// file stands beside it) or kSourceUnavailable.
ResultCode checkSourceAccess(const std::string& path);
// Whether the file is a compound file whose root holds an "EncryptedPackage" stream.
bool isEncryptedPackage(const std::string& path);
void deleteFileQuietly(const std::string& path);
// Moves `temp` onto `target` (replacing it) with the data and the rename on disk; errno on failure.
bool commitOutput(const std::string& temp, const std::string& target);
// A random UUID in registry form, upper-case, without braces.
std::string uniqueToken();

}  // namespace parlux
