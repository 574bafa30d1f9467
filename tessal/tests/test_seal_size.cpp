// Image sizes carried by seal file names.
#include <gtest/gtest.h>

#include "token/seal_size.h"

namespace {

struct Size {
    bool known;
    int width, height;
};

Size RecordSize(const std::string& name) {
    Size s{false, -1, -1};
    s.known = SealSizeFromName(name, s.width, s.height);
    return s;
}

TEST(SealSize, NamesWithSizesAndTheFixedStampNames) {
    for (const char* name : {"seal_120_80", "a_30_40", "30_40"}) {
        Size s = RecordSize(name);
        EXPECT_TRUE(s.known) << name;
        if (std::string(name) == "seal_120_80") {
            EXPECT_EQ(s.width, 120);
            EXPECT_EQ(s.height, 80);
        } else {
            EXPECT_EQ(s.width, 30) << name;
            EXPECT_EQ(s.height, 40) << name;
        }
    }
    Size one = RecordSize("VUVISignStamp1"), two = RecordSize("VUVISignStamp2"),
         eseal = RecordSize("ESEAL");
    EXPECT_EQ(one.width * 1000 + one.height, 40040);
    EXPECT_EQ(two.width * 1000 + two.height, 20020);
    EXPECT_EQ(eseal.width * 1000 + eseal.height, 45045);
    // Leading blanks and a sign are read; reading stops at the first other character.
    Size loose = RecordSize("x_ +12px_-7cm");
    EXPECT_TRUE(loose.known);
    EXPECT_EQ(loose.width, 12);
    EXPECT_EQ(loose.height, -7);
}

TEST(SealSize, NamesWithoutANumberOrOutOfRangeCarryNoSize) {
    for (const char* name : {"a_b_c_d", "a_b_c", "logo", "seal_12_", "_", "a_99999999999_5",
                             "a_5_-2147483649", "eseal", "ESEAL_1_2_3", "x_ _4"}) {
        Size s = RecordSize(name);
        EXPECT_FALSE(s.known) << name;
        EXPECT_EQ(s.width, -1) << name;
        EXPECT_EQ(s.height, -1) << name;
    }
    Size edge = RecordSize("a_2147483647_-2147483648");
    EXPECT_TRUE(edge.known);
    EXPECT_EQ(edge.width, 2147483647);
}

TEST(SealSize, TheStampImageRuleKnowsOnlyTheUnderscoreParts) {
    int width = -1, height = -1;
    EXPECT_FALSE(SizeFromNameParts("VUVISignStamp2", width, height));
    EXPECT_FALSE(SizeFromNameParts("ESEAL", width, height));
    EXPECT_EQ(width, -1);
    EXPECT_TRUE(SizeFromNameParts("x_10_20", width, height));
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 20);
}

}  // namespace
