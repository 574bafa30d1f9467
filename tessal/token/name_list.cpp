#include "token/name_list.h"

#include <cstring>

std::vector<std::string> NameList(const char* buffer, size_t size) {
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < size && buffer[pos] != '\0') {
        size_t len = strnlen(buffer + pos, size - pos);
        names.emplace_back(buffer + pos, len);
        pos += len + 1;
    }
    return names;
}

bool EndedNameList(const char* buffer, size_t size, std::vector<std::string>& names) {
    names = NameList(buffer, size);
    size_t used = 0;
    for (const std::string& name : names) used += name.size() + 1;
    if (used < size) return true;  // buffer[used] is the empty name
    names.clear();
    return false;
}
