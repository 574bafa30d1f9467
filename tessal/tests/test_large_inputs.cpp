// Inputs past what the library holds (over 2 GiB and over 4 GiB) are refused with a message,
// never cut to their low bits nor thrown across the interface. They take several GiB of memory:
// ctest runs them alone, and they skip when the machine has too little free.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "key_rig.h"
#include "tessal/data_protection.h"
#include "tessal/devices.h"
#include "tessal/result.h"
#include "tessal/signing.h"

namespace {

constexpr size_t kGiB = size_t(1) << 30;
constexpr char kTooLong[] = "输入数据长度错误";
const std::string kAesKey = "AAECAwQFBgcICQoLDA0ODw==";

// What the kernel estimates can be allocated without swapping (MemAvailable), in bytes.
size_t AvailableMemory() {
    std::ifstream in("/proc/meminfo");
    std::string name, unit;
    size_t kib = 0;
    while (in >> name >> kib >> unit)
        if (name == "MemAvailable:") return kib * 1024;
    return 0;
}

class LargeInputTest : public KeyRigTest {
protected:
    void SetUp() override {
        // One 4 GiB buffer, the sanitizers' share of it and room for the key rig.
        const size_t needed = 6 * kGiB;
        size_t available = AvailableMemory();
        if (available < needed)
            GTEST_SKIP() << "needs " << needed / kGiB << " GiB of free memory, the machine has "
                         << available / (kGiB / 10) / 10.0
                         << " GiB: inputs over 2 and 4 GiB are not checked";
        KeyRigTest::SetUp();
    }
};

TEST_F(LargeInputTest, InputsOverTwoAndFourGibAreRefusedWithAMessage) {
    InstallDriver("SKF_APP.dll");
    AddKey("BIG1", "1D99&0001");
    Softkey("container create BIG1 CntRSA rsa2048");
    ASSERT_EQ(ZYKVerifyPin("12345678", "BIG1"), -1);

    // 'A' bytes: Base64 text decoding to 3 GiB for some exports, raw data for others.
    std::string big(4 * kGiB + 16, 'A');
    std::string out = "untouched";
    EXPECT_FALSE(ZYKSymDecData(big, kAesKey, out));
    EXPECT_EQ(ZYKGetLastError(), kTooLong);
    EXPECT_FALSE(ZYKSignP7(big, out, 1));
    EXPECT_EQ(ZYKGetLastError(), kTooLong);
    // Raw data over 4 GiB and over 2 GiB, and data that fits a buffer while its zero padding would
    // not (shrinking the one buffer).
    for (size_t size : {4 * kGiB + 16, 4 * kGiB + 5, 2 * kGiB + 1, size_t(INT_MAX) - 14}) {
        big.resize(size);
        EXPECT_FALSE(ZYKSymEncData(big, kAesKey, out)) << size;
        EXPECT_EQ(ZYKGetLastError(), kTooLong) << size;
        if (size > size_t(INT_MAX)) {
            EXPECT_FALSE(ZYKSignData(big, "12345678", out)) << size;
            EXPECT_EQ(ZYKGetLastError(), kTooLong) << size;
        }
    }
    EXPECT_EQ(out, "untouched");

    // The key still signs what fits.
    std::string small = "small";
    EXPECT_TRUE(ZYKSignData(small, "12345678", out)) << ZYKGetLastError();
}

}  // namespace
