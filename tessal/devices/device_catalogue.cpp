#include "devices/device_catalogue.h"

#include "platform/program_paths.h"

const std::vector<std::string>* LibrariesForVpid(const std::string& vpid) {
    auto it = g_VpidLibMap.find(vpid);
    return it == g_VpidLibMap.end() ? nullptr : &it->second;
}

std::string LibraryFamily(const std::string& libName) {
    auto it = g_LibFamilyMap.find(libName);
    return it == g_LibFamilyMap.end() ? std::string() : it->second;
}

std::vector<std::string> LibraryDirectories(const std::string& libName) {
    std::string family = LibraryFamily(libName);
    std::vector<std::string> dirs;
    for (const std::string& dir : platform::DriverDirectories())
        dirs.push_back(family.empty() ? dir : platform::JoinPath(dir, family));
    return dirs;
}
