// libtessal.dll in a host built with the same toolchain: load-time initialisation, std::string
// arguments across the DLL boundary, OpenSSL inside the DLL, and the key manager on a system
// without keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tessal/data_protection.h"
#include "tessal/devices.h"
#include "tessal/result.h"

namespace {

TEST(WindowsLibrary, LoadTimeStateIsInPlace) {
    EXPECT_EQ(g_USBLastError, "Error");
    EXPECT_EQ(ZYKGetLastError(), "Error");
}

TEST(WindowsLibrary, StringsCrossTheBoundaryThroughAes) {
    // AES-128-ECB of "ABCDEFGHIJKLMNOP" under the key 00 01 … 0f, as `openssl enc` gives it.
    const std::string key = "AAECAwQFBgcICQoLDA0ODw==";
    std::string cipher;
    ASSERT_TRUE(ZYKSymEncData("ABCDEFGHIJKLMNOP", key, cipher));
    EXPECT_EQ(cipher, "nN2F3oW0i+2JLwLYpcvayw==");
    std::string plain;
    ASSERT_TRUE(ZYKSymDecData(cipher, key, plain));
    EXPECT_EQ(plain, "ABCDEFGHIJKLMNOP");
}

TEST(WindowsLibrary, WithoutKeysThereIsNoCurrentDevice) {
    // No TESSAL_USB_SYSFS: the system's devices through SetupAPI, of which wine has none.
    _putenv("TESSAL_USB_SYSFS=");
    std::string id = "unchanged";
    EXPECT_FALSE(ZYKGetCurrentDeviceId(id));
    EXPECT_NE(ZYKGetLastError(), "");
}

}  // namespace
