// The names of the atomic file writer's temporaries, shared by its POSIX and Windows versions:
// "<final name, cut to fit>.tmp-<writer pid>-<writer start time>-<random>". Earlier versions
// wrote "<final name>.tmp-<twelve random hex digits>", which records no writer.
#pragma once

#include <string>

namespace kit {

extern const char kTemporaryMarker[];

// The start of the temporary names for `finalName`: the name itself, cut at a UTF-8 character
// boundary so that a whole temporary name stays within 255 bytes.
std::string TemporaryPrefix(const std::string& finalName);

// A new temporary name for `finalName` written by process `pid` that started at `start`.
std::string TemporaryName(const std::string& finalName, unsigned long long pid,
                          unsigned long long start);

// The writer recorded in `name` when it is a current-form temporary of `finalName`.
bool RecordedWriterOf(const std::string& name, const std::string& finalName,
                      unsigned long long& pid, unsigned long long& start);

// True for a temporary of `finalName` of the current form or of earlier versions.
bool IsTemporaryNameOf(const std::string& name, const std::string& finalName);

}  // namespace kit
