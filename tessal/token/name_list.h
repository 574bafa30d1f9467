// NUL-separated name lists that vendor libraries fill.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The names of the list in `buffer`, up to its first empty name or the end of the `size` bytes
// it holds, whichever comes first; a last name without its NUL ends at the end of the bytes.
std::vector<std::string> NameList(const char* buffer, size_t size);

// The same for lists that must end with their empty name inside the `size` bytes: false (and
// `names` empty) when the bytes end first, as a list cut short by its library does.
bool EndedNameList(const char* buffer, size_t size, std::vector<std::string>& names);
