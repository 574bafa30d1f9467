// The generated udev rules: every key of the device catalogue, and nothing else, is opened to the
// logged-in user.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "devices/device_catalogue.h"

namespace {

// "vid:pid" (lower case) of each rule of `subsystem`, with how often it appears.
std::map<std::string, int> RuledDevices(const std::string& subsystem) {
    std::ifstream in(KIT_UDEV_RULES_FILE);
    EXPECT_TRUE(in) << KIT_UDEV_RULES_FILE;
    const std::regex rule("^SUBSYSTEM==\"" + subsystem + "\", (ENV\\{DEVTYPE\\}==\"usb_device\", )?ATTRS?\\{idVendor\\}==\"([0-9a-f]{4})\", "
                          "ATTRS?\\{idProduct\\}==\"([0-9a-f]{4})\", TAG\\+=\"uaccess\"$");
    std::map<std::string, int> devices;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, rule)) ++devices[m[2].str() + ":" + m[3].str()];
    }
    return devices;
}

std::set<std::string> CatalogueDevices() {
    std::set<std::string> devices;
    for (const auto& row : g_VpidLibMap) {
        std::string id = row.first.substr(0, 4) + ":" + row.first.substr(5);
        for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        devices.insert(id);
    }
    return devices;
}

TEST(UdevRules, EveryCatalogueKeyHasItsRulesOnce) {
    std::set<std::string> catalogue = CatalogueDevices();
    ASSERT_FALSE(catalogue.empty());
    for (const char* subsystem : {"usb", "hidraw"}) {
        std::map<std::string, int> ruled = RuledDevices(subsystem);
        for (const std::string& id : catalogue) EXPECT_EQ(ruled[id], 1) << subsystem << " rule for " << id;
        for (const auto& entry : ruled) EXPECT_TRUE(catalogue.count(entry.first)) << "rule for " << entry.first;
    }
}

TEST(UdevRules, EveryLineIsARuleOrAComment) {
    std::ifstream in(KIT_UDEV_RULES_FILE);
    std::string line;
    size_t rules = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        ++rules;
        EXPECT_NE(line.find("TAG+=\"uaccess\""), std::string::npos) << line;
        EXPECT_EQ(line.find("MODE="), std::string::npos) << "world-writable nodes are not wanted: " << line;
    }
    EXPECT_EQ(rules, 2 * CatalogueDevices().size());
}

}  // namespace
