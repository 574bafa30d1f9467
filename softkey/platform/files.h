// The software key's operating-system calls beyond those of core/fs_util.h: lock files, second
// names, file versions, random bytes and the names of its own modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace softkey::platform {

// A lock file: opened (created private when missing; -1 and errno on failure), locked shared or
// exclusive (waiting for other holders), released when closed.
int OpenLockFile(const std::string& path);
bool LockFile(int fd, bool exclusive);
void CloseLockFile(int fd);

// Removes a file; false when it could not be removed (errno tells why).
bool RemoveFile(const std::string& path);

// Gives the file `from` the second name `to`; false when it could not, with `exists` telling
// whether `to` was there already.
bool LinkFile(const std::string& from, const std::string& to, bool& exists);

// One version of a file: a later write changes at least one of these.
struct FileStamp {
    uint64_t id = 0;
    int64_t size = 0;
    int64_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const FileStamp& o) const {
        return id == o.id && size == o.size && seconds == o.seconds && nanoseconds == o.nanoseconds;
    }
};
bool StampFile(const std::string& path, FileStamp& out);

// Fills `out` from the system's random source; false when it has none.
bool SystemRandom(void* out, size_t length);

// File name (without its directory) of the library or program holding `address`; empty when
// unknown.
std::string ModuleFileName(const void* address);
// Full path of the running program, "/" between directories; empty when unknown.
std::string ProgramFile();
bool IsReadable(const std::string& path);

// One directory, its parent existing; true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// The working directory, "/" between directories; empty when unknown.
std::string WorkingDirectory();
bool IsAbsolutePath(const std::string& path);
// The local time of `when`.
struct tm LocalTime(time_t when);

}  // namespace softkey::platform
