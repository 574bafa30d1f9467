// Small file-system helpers with the durability the token store needs.
#pragma once

#include <string>
#include <vector>

namespace softkey {

// Writes `data` to `path` atomically: temporary file, fsync, rename, fsync of the directory.
// Throws std::runtime_error on failure; `path` then keeps its old content.
void WriteFileAtomic(const std::string& path, const std::string& data, int mode = 0600);

// Whole file content; false when the file cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates `path` and its missing parents (mode 0700). Throws on failure.
void MakeDirs(const std::string& path);

// Removes a directory tree or a file; missing paths are fine.
void RemoveTree(const std::string& path);

// Names of the entries of a directory (no "." or ".."), sorted; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);

void FsyncDirectory(const std::string& dir);

// A short random hexadecimal text (from the system's random source).
std::string RandomHex(size_t bytes);

// Lower-case hexadecimal text of `len` bytes.
std::string HexText(const unsigned char* data, size_t len);

}  // namespace softkey
