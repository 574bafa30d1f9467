// Which vendor SKF libraries drive a key with a given USB VID&PID, and where they are loaded from.
#pragma once

#include <map>
#include <string>
#include <vector>

extern const std::map<std::string, std::vector<std::string>>& g_VpidLibMap;
extern const std::map<std::string, std::string>& g_LibFamilyMap;

// The libraries to try, in order, for a VID&PID text such as "1EA8&C109"; null when the
// device is not a supported key. Keys compare exactly.
const std::vector<std::string>* LibrariesForVpid(const std::string& vpid);

// The family sub-directory of a library, empty when it has none.
std::string LibraryFamily(const std::string& libName);

// Directories a library is looked for in, in order: each driver directory plus the library's
// family sub-directory.
std::vector<std::string> LibraryDirectories(const std::string& libName);
