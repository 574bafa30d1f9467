#include <gtest/gtest.h>

#include "kit/hex.h"
#include "kit/utf8.h"

namespace {

TEST(HexText, WritesTwoDigitsPerByteInEitherCase) {
    EXPECT_EQ(kit::HexText(std::string("\x00\x0f\xa5\xff", 4)), "000fa5ff");
    EXPECT_EQ(kit::HexText("\x0f\xa5", 2, kit::HexDigits::Upper), "0FA5");
    EXPECT_EQ(kit::HexText(std::string()), "");
}

TEST(Utf8Codec, RoundTripsEveryLengthAndReplacesWhatIsNoCharacter) {
    std::string text;
    for (char32_t cp : {U'A', U'\u00e9', U'\u4e2d', U'\U0001F600'}) kit::AppendUtf8(text, cp);
    EXPECT_EQ(text, "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    std::u32string decoded;
    for (size_t i = 0; i < text.size();) {
        kit::Utf8Character c = kit::DecodeUtf8(text, i);
        EXPECT_TRUE(c.valid);
        decoded += c.codePoint;
        i += c.length;
    }
    EXPECT_EQ(decoded, U"A\u00e9\u4e2d\U0001F600");

    std::string replaced;
    kit::AppendUtf8(replaced, 0xD800);
    kit::AppendUtf8(replaced, 0x110000);
    EXPECT_EQ(replaced, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// A malformed sequence takes its lead and the continuation bytes read before the fault.
TEST(Utf8Codec, MalformedSequencesTakeTheBytesRead) {
    struct Case {
        std::string text;
        size_t length;
    } cases[] = {
        {"\x80", 1},  // a continuation byte as lead
        {"\xFF", 1},  // no lead at all
        {"\xE4\xB8"
         "A",
         2},                      // cut short before "A"
        {"\xE4", 1},              // cut short by the end
        {"\xC0\x80", 2},          // overlong NUL
        {"\xED\xA0\x80", 3},      // a surrogate
        {"\xF4\x90\x80\x80", 4},  // past U+10FFFF
    };
    for (const Case& c : cases) {
        kit::Utf8Character got = kit::DecodeUtf8(c.text, 0);
        EXPECT_FALSE(got.valid) << kit::HexText(c.text);
        EXPECT_EQ(got.codePoint, kit::kReplacementCharacter) << kit::HexText(c.text);
        EXPECT_EQ(got.length, c.length) << kit::HexText(c.text);
    }
}

}  // namespace
