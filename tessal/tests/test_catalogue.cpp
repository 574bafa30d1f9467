// The device catalogue and the VID&PID rule.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <set>

#include "devices/device_catalogue.h"
#include "devices/key_manager.h"
#include "platform/program_paths.h"

namespace {

using Libs = std::vector<std::string>;

TEST(DeviceCatalogue, HoldsEveryRowInTrialOrder) {
    EXPECT_EQ(g_VpidLibMap.size(), 49u);
    EXPECT_EQ(g_LibFamilyMap.size(), 46u);
    std::set<std::string> libraries;
    for (const auto& row : g_VpidLibMap) libraries.insert(row.second.begin(), row.second.end());
    EXPECT_EQ(libraries.size(), 71u);

    ASSERT_NE(LibrariesForVpid("1EA8&C001"), nullptr);
    EXPECT_EQ(*LibrariesForVpid("1EA8&C001"), Libs{"EsecuSKF.dll"});
    EXPECT_EQ(*LibrariesForVpid("096E&0309"),
              (Libs{"SZCAEkey3003CSP11.dll", "JITGMKEY_SJK1424.dll", "twcxftp11d.dll", "ShuttleCsp11_3000GM.dll",
                    "SxcaCsp11_3000GM.dll", "HNCA3000GM.dll", "Hebca3000GM.dll", "JITGMKEY_SJK1424_FJ.dll",
                    "ShuttleCsp11_3000GM_SZCA.dll"}));
    EXPECT_EQ(LibrariesForVpid("1EA8&c109"), nullptr);  // callers upper-case first
    EXPECT_EQ(LibrariesForVpid("1EA8&C1"), nullptr);
    EXPECT_EQ(LibraryFamily("SKF_APP_LNCA.dll"), "LNCA");
    EXPECT_EQ(LibraryFamily("SKF_APP.dll"), "SDCA&HNCA");
    EXPECT_EQ(LibraryFamily("GuoMi.dll"), "");
}

TEST(DeviceCatalogue, LibraryDirectoriesAreTheDriverDirectoriesAndFamily) {
    setenv("TESSAL_DRIVER_DIR", "/opt/app/", 1);
    EXPECT_EQ(LibraryDirectories("FTGM.dll"), Libs{"/opt/app/BJCA"});
    EXPECT_EQ(LibraryDirectories("GuoMi.dll"), Libs{"/opt/app"});
    unsetenv("TESSAL_DRIVER_DIR");
    // Without it: the program's directory first, then the system directory beside the library.
    Libs dirs = LibraryDirectories("FTGM.dll");
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], platform::ProgramDirectory() + "/BJCA");
    EXPECT_EQ(dirs[1], platform::SystemDriverDirectory() + "/BJCA");
    const std::string suffix = "/tessal/drivers/BJCA";
    ASSERT_GT(dirs[1].size(), suffix.size());
    EXPECT_EQ(dirs[1].substr(dirs[1].size() - suffix.size()), suffix);
    EXPECT_EQ(LibraryDirectories("GuoMi.dll")[0], platform::ProgramDirectory());
}

TEST(DeviceCatalogue, VpidFromDeviceIdentifiers) {
    EXPECT_EQ(UKeyManager::ParseVpid("USB\\VID_1EA8&PID_C109&REV_0100"), "1EA8&C109");
    EXPECT_EQ(UKeyManager::ParseVpid("USB\\VID_096E&PID_0309\\5&1A2B3C4D&0&1"), "096E&0309");
    EXPECT_EQ(UKeyManager::ParseVpid("USB\\VID_1EA8&PID_C1"), "1EA8&C1");
    // The first occurrence of each decides.
    EXPECT_EQ(UKeyManager::ParseVpid("USB\\VID_1111&PID_2222&REV_0001 USB\\VID_3333&PID_4444"), "1111&2222");
}

}  // namespace
