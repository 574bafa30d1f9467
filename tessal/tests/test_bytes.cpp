// ByteArray and the shared encoding helpers.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <climits>
#include <stdexcept>

#include "api/encodings.h"
#include "tessal/byte_array.h"

namespace {

ByteArray Bytes(const std::string& s) { return ByteArray(s.data(), static_cast<int>(s.size())); }
std::string Text(const ByteArray& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.length()));
}

TEST(ByteArrayValue, EmptyArraysHaveNoStorage) {
    ByteArray a(static_cast<const char*>(nullptr), 0);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.length(), 0);
    ByteArray b;
    EXPECT_TRUE(a == b);
    ByteArray c(static_cast<const unsigned char*>(nullptr), 0ul);
    EXPECT_EQ(c.data(), nullptr);
}

TEST(ByteArrayValue, CopiesComparisonsAndAppends) {
    ByteArray ab("ab", 2), abc("abc", 3);
    EXPECT_FALSE(ab == abc);
    EXPECT_TRUE(ab != abc);

    ByteArray copy(abc);
    ByteArray assigned;
    assigned = abc;
    abc.Empty();
    EXPECT_EQ(Text(copy), "abc");
    EXPECT_EQ(Text(assigned), "abc");

    ByteArray a("xy", 2);
    a += a;
    EXPECT_EQ(Text(a), "xyxy");
    a += ab;
    EXPECT_EQ(Text(a), "xyxyab");

    const unsigned char* storage = a.data();
    a.Empty();
    EXPECT_TRUE(a.IsEmpty());
    a.append(reinterpret_cast<const unsigned char*>("q"), 1);
    EXPECT_EQ(a.data(), storage);  // storage kept across Empty
    EXPECT_EQ(Text(a), "q");

    ByteArray self("hello", 5);
    self.Copy(self.data() + 1, 3);
    EXPECT_EQ(Text(self), "ell");
    self.Copy(nullptr, 0);
    EXPECT_TRUE(self.IsEmpty());
}

TEST(ByteArrayValue, NegativeLengthsNeverTouchMemory) {
    EXPECT_THROW(ByteArray("abc", -1), std::length_error);
    ByteArray a("abc", 3);
    try {
        a.Copy(reinterpret_cast<const unsigned char*>("z"), -5);
        FAIL() << "no length error";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector too long");
    }
    EXPECT_EQ(Text(a), "abc");
    a.append(reinterpret_cast<const unsigned char*>("z"), -5);
    EXPECT_EQ(Text(a), "abc");
}

// The length is an int: content past INT_MAX bytes is refused before a byte is read.
TEST(ByteArrayValue, LengthsPastWhatAnIntCountsAreRefused) {
    const auto* small = reinterpret_cast<const unsigned char*>("abc");
    EXPECT_THROW(ByteArray(small, 0x80000000ul), std::length_error);
    EXPECT_THROW(ByteArray(small, 0x100000005ul), std::length_error);
    ByteArray a("abc", 3);
    EXPECT_THROW(a.append(small, INT_MAX - 2), std::length_error);
    EXPECT_EQ(Text(a), "abc");
}

TEST(Base64, RoundTripsAndPadding) {
    EXPECT_EQ(Base64Encode(ByteArray()), "");
    EXPECT_EQ(Base64Encode(Bytes("f")), "Zg==");
    EXPECT_EQ(Base64Encode(Bytes("fo")), "Zm8=");
    EXPECT_EQ(Base64Encode(Bytes("foo")), "Zm9v");
    EXPECT_EQ(Base64Encode(Bytes("foobar")), "Zm9vYmFy");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); n += 37) {
        ByteArray in = Bytes(all.substr(0, n));
        ByteArray out = Base64Decode(Base64Encode(in));
        EXPECT_TRUE(out == in) << n;
    }
}

// One line, as OpenSSL's EVP_EncodeBlock writes it, for every length up to 300 and a large input.
TEST(Base64, EncodingIsOpenSslsBlockEncoding) {
    std::string bytes;
    unsigned seed = 12345;
    for (int i = 0; i < 1 << 20; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes += static_cast<char>(seed >> 16);
    }
    auto openssl = [](const std::string& in) {
        std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
        out.resize(static_cast<size_t>(n));
        return out;
    };
    for (size_t n = 0; n <= 300; ++n) EXPECT_EQ(Base64Encode(Bytes(bytes.substr(0, n))), openssl(bytes.substr(0, n))) << n;
    EXPECT_TRUE(Base64Encode(Bytes(bytes)) == openssl(bytes));
}

TEST(Base64, DecodingIsLenient) {
    EXPECT_EQ(Text(Base64Decode("TW Fu\r\n")), "Man");
    EXPECT_EQ(Text(Base64Decode("TWFu")), "Man");
    EXPECT_TRUE(Base64Decode("TWE").IsEmpty());
    EXPECT_TRUE(Base64Decode("").IsEmpty());
    EXPECT_EQ(Text(Base64Decode("TWFuTW")), "Man");          // trailing partial group dropped
    EXPECT_EQ(Text(Base64Decode("Zm8=")), "fo");
    EXPECT_EQ(Text(Base64Decode("Zg==")), "f");
    EXPECT_EQ(Text(Base64Decode("Z\x01g*=\xff=")), "f");     // stray bytes skipped
    EXPECT_EQ(Text(Base64Decode("Zm9v\nYmFy\n")), "foobar");
}

TEST(Digests, HexMd5AndHmacMatchPublishedVectors) {
    EXPECT_EQ(HexEncode("\x00\xab", 2), "00ab");
    EXPECT_EQ(HexEncode("abc", 0), "");
    EXPECT_EQ(HexEncode("abc", -1), "");
    // RFC 1321 appendix A.5
    EXPECT_EQ(Md5Hex(ByteArray()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex(Bytes("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex(Bytes("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
    // RFC 4231 test cases 1 and 2
    EXPECT_EQ(HmacSha256Hex("Hi There", std::string(20, '\x0b')),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(HmacSha256Hex("what do ya want for nothing?", "Jefe"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(Nonce, IsLowerCaseHexOfOneWord) {
    for (int i = 0; i < 20; ++i) {
        std::string n = RandomHexNonce();
        ASSERT_FALSE(n.empty());
        EXPECT_LE(n.size(), 8u);
        EXPECT_EQ(n.find_first_not_of("0123456789abcdef"), std::string::npos) << n;
        EXPECT_TRUE(n.size() == 1 || n[0] != '0') << n;
    }
}

TEST(Split, KeepsEmptyPieces) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitString("a_b_c", "_"), (V{"a", "b", "c"}));
    EXPECT_EQ(SplitString("a__b", "_"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitString("a_", "_"), (V{"a", ""}));
    EXPECT_EQ(SplitString("", "_"), (V{""}));
    EXPECT_EQ(SplitString("k1&&k2", "&&"), (V{"k1", "k2"}));
}

TEST(CodePages, GbkAndUtf8RoundTripChineseText) {
    unsetenv("TESSAL_ANSI_CODEPAGE");
    const std::string utf8 = "中国金融认证 UKey 用户";
    // "中国" in GBK
    const std::string gbkPrefix = "\xD6\xD0\xB9\xFA";
    std::string gbk = Utf8ToAnsi(utf8);
    EXPECT_EQ(gbk.substr(0, 4), gbkPrefix);
    EXPECT_EQ(AnsiToUtf8(gbk), utf8);
    EXPECT_EQ(WideToAnsi(Utf8ToWide(utf8)), gbk);
    EXPECT_EQ(Utf8ToWide(utf8), std::wstring(L"中国金融认证 UKey 用户"));
    EXPECT_EQ(WideToUtf8(Utf8ToWide("😀x")), "😀x");

    // Text ends at the first NUL; what GBK cannot hold becomes "?".
    EXPECT_EQ(AnsiToUtf8(std::string("\xD6\xD0\0tail", 7)), "中");
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(WideToAnsi(L"a😀b"), "a?b");

    // The exact conversion refuses what GBK cannot hold and leaves its output alone.
    std::string exact = "unchanged";
    EXPECT_FALSE(Utf8ToAnsiExactly("张三😀", exact));
    EXPECT_EQ(exact, "unchanged");
    EXPECT_FALSE(Utf8ToAnsiExactly("a\xff", exact));
    ASSERT_TRUE(Utf8ToAnsiExactly(utf8, exact));
    EXPECT_EQ(exact, gbk);
    ASSERT_TRUE(Utf8ToAnsiExactly("", exact));
    EXPECT_EQ(exact, "");
    EXPECT_EQ(Utf8ToWide("a\xff" "b"), std::wstring(L"a\xFFFD" L"b"));

    setenv("TESSAL_ANSI_CODEPAGE", "UTF-8", 1);
    EXPECT_EQ(AnsiToUtf8(utf8), utf8);
    unsetenv("TESSAL_ANSI_CODEPAGE");
}

TEST(Asn1Strings, Utf8BmpAndOtherTypes) {
    auto make = [](int type, const std::string& bytes) {
        ASN1_STRING* s = ASN1_STRING_type_new(type);
        ASN1_STRING_set(s, bytes.data(), static_cast<int>(bytes.size()));
        return s;
    };
    ASN1_STRING* utf8 = make(V_ASN1_UTF8STRING, "上海");
    // "上海" and U+1F600 as big-endian UTF-16
    ASN1_STRING* bmp = make(V_ASN1_BMPSTRING, std::string("\x4E\x0A\x6D\x77\xD8\x3D\xDE\x00", 8));
    ASN1_STRING* printable = make(V_ASN1_PRINTABLESTRING, std::string("CN\0junk", 7));

    EXPECT_EQ(Asn1StringText(utf8), "上海");
    EXPECT_EQ(Asn1StringText(bmp), "上海😀");
    EXPECT_EQ(Asn1StringText(printable), "CN");

    unsigned char out[16];
    int outLen = -1;
    EXPECT_EQ(Asn1StringToUtf8(bmp, out, &outLen, sizeof out), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), outLen), "上海😀");
    EXPECT_EQ(Asn1StringToUtf8(bmp, out, &outLen, 4), -1);  // never writes past the buffer
    EXPECT_EQ(Asn1StringToUtf8(nullptr, out, &outLen, sizeof out), -1);

    ASN1_STRING_free(utf8);
    ASN1_STRING_free(bmp);
    ASN1_STRING_free(printable);
}

TEST(CaseCompare, FoldsAsciiOnly) {
    EXPECT_EQ(AsciiCaseCompare("ABC", "abc"), 0);
    EXPECT_LT(AsciiCaseCompare("a", "b"), 0);
    EXPECT_GT(AsciiCaseCompare("abcd", "ABC"), 0);
    EXPECT_EQ(AsciiCaseCompare("SM2", "sm2"), 0);
    EXPECT_NE(AsciiCaseCompare("\xC4", "\xE4"), 0);
}

}  // namespace
