// Path forms and file checks of the converter.
#pragma once

#include <limits.h>

#include <string>

#include "records.h"

namespace parlux {

// What separates the components of a path.
#ifdef _WIN32
constexpr const char kPathSeparators[] = "\\/";
#else
constexpr const char kPathSeparators[] = "/";
#endif

// Absolute and lexically normalised ("." and ".." removed, no doubled slashes); `path` itself
// when it cannot be resolved.
std::string fullPath(const std::string& path);
// On Linux the long form is the full form; prefixed Windows forms are stripped first.
std::string toLongPath(const std::string& path);
std::string stripLongPathPrefix(const std::string& path);
// The form handed to the worker: the full form when it has at most `limit` bytes, else empty.
// The office itself only ever opens a private copy, so any path the system takes will do;
// the bytes need not be UTF-8.
std::string officePath(const std::string& path, size_t limit = PATH_MAX - 1);
// The same file: by identity when both exist, else by their full forms (case-sensitive).
bool samePath(const std::string& a, const std::string& b);
// A fresh empty "plxNNNNN.pdf" in the target's directory, created exclusively (mode 0600, no
// link followed) and kept, open as `fd`, until it is committed or deleted. It is recorded for
// later runs, and the temporaries killed runs left in that directory are removed first (see
// temp_output_records.h). False, with nothing created, when the target's directory is missing or
// the target names a directory.
bool makeTempOutputPath(const std::string& target, std::string& out, int& fd);
// The worker's side: opens the temporary file the parent created, for writing from its start,
// without creating, replacing or following anything; -1 with errno when it is not such a file.
int openTempOutputForWriting(const std::string& path);
// Whether `path` is still the file `fd` holds: a regular file with one link, owned by this user.
bool isOwnTempFile(const std::string& path, int fd);
bool isValidPdf(const std::string& path);
bool isValidPdf(int fd);
// kSuccess, kSourceBusy (another process holds a write lock on it, or a live LibreOffice lock
// file stands beside it) or kSourceUnavailable.
ResultCode checkSourceAccess(const std::string& path);
// Whether the file is a compound file whose root holds an "EncryptedPackage" stream.
bool isEncryptedPackage(const std::string& path);
void deleteFileQuietly(const std::string& path);
// Deletes the temporary file when its name still holds it, and closes `fd`.
void deleteTempOutput(const std::string& path, int& fd);
// Moves the temporary file onto `target` (replacing it) with the data and the rename on disk,
// after checking it is still this run's own file; errno on failure. Just before the rename it
// gets the permissions of the file it replaces, or those of a new file under the umask.
bool commitOutput(const std::string& temp, int& fd, const std::string& target);
// The attempt's PDF onto the target: only this run's own temporary, only when it is a PDF.
bool commitValidOutput(const std::string& temp, int& fd, const std::string& target);
// A random UUID in registry form, upper-case, without braces.
std::string uniqueToken();

}  // namespace parlux
