// The AES exports against the openssl command line: strings zero-padded, files PKCS#7-padded,
// and failures that leave the output path as it was.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "api/encodings.h"
#include "cert_factory.h"
#include "tessal/data_protection.h"
#include "test_support.h"

using namespace test_support;

namespace {

const std::string kKeyHex = "000102030405060708090a0b0c0d0e0f";

std::string Base64Of(const std::string& bytes) {
    return Base64Encode(ByteArray(bytes.data(), static_cast<int>(bytes.size())));
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

class SymmetricExportsTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = MakeTempDir("tessal-aes-"); }
    void TearDown() override { system(("rm -rf '" + m_dir + "'").c_str()); }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::string Write(const std::string& name, const std::string& bytes) {
        WriteText(Path(name), bytes);
        return Path(name);
    }
    // `openssl enc -aes-128-ecb` over `input` with the hexadecimal key; `options` such as "-d -nopad".
    std::string OpenSsl(const std::string& input, const std::string& keyHex, const std::string& options) {
        std::string in = Write("openssl.in", input);
        std::string command = "openssl enc -aes-128-ecb -K " + keyHex + " " + options + " -in '" + in + "' -out '" +
                              Path("openssl.out") + "'";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return ReadFile(Path("openssl.out"));
    }
    // The names in the directory: a failed write must leave no temporary file behind.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(m_dir.c_str());
        while (dirent* entry = dir ? readdir(dir) : nullptr) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        if (dir) closedir(dir);
        return names;
    }

    std::string m_dir;
    const std::string m_key = Base64Of(FromHex(kKeyHex));
};

TEST_F(SymmetricExportsTest, StringsAreZeroPaddedAndMatchOpenSsl) {
    for (size_t length : {16u, 17u}) {
        std::string plain(length, '\0');
        for (size_t i = 0; i < length; ++i) plain[i] = static_cast<char>('A' + i);
        std::string padded = plain + std::string((16 - length % 16) % 16, '\0');
        std::string cipher;
        ASSERT_TRUE(ZYKSymEncData(plain, m_key, cipher));
        ByteArray bytes = Base64Decode(cipher);
        EXPECT_EQ(bytes.length(), static_cast<int>(padded.size()));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.length()),
                  OpenSsl(padded, kKeyHex, "-nopad"))
            << length;
        // Decryption keeps the zero padding.
        std::string back;
        ASSERT_TRUE(ZYKSymDecData(cipher, m_key, back));
        EXPECT_EQ(back, padded);
    }
    std::string empty = "unchanged";
    EXPECT_TRUE(ZYKSymEncData("", m_key, empty));
    EXPECT_EQ(empty, "");
}

TEST_F(SymmetricExportsTest, ADecryptedPartialBlockStaysZero) {
    std::string cipher;
    ASSERT_TRUE(ZYKSymEncData(std::string(16, 'x'), m_key, cipher));
    ByteArray bytes = Base64Decode(cipher);
    bytes.append(reinterpret_cast<const unsigned char*>("\x01\x02\x03"), 3);
    std::string plain;
    ASSERT_TRUE(ZYKSymDecData(Base64Encode(bytes), m_key, plain));
    EXPECT_EQ(plain, std::string(16, 'x') + std::string(3, '\0'));
}

TEST_F(SymmetricExportsTest, AShortKeyIsPaddedWithZerosAndALongOrEmptyKeyIsRefused) {
    std::string shortKey = FromHex("0102030405060708090a");
    std::string cipherShort, cipherPadded;
    ASSERT_TRUE(ZYKSymEncData("some text", Base64Of(shortKey), cipherShort));
    ASSERT_TRUE(ZYKSymEncData("some text", Base64Of(shortKey + std::string(6, '\0')), cipherPadded));
    EXPECT_EQ(cipherShort, cipherPadded);

    // Files too: a 10-byte key is that key followed by six zero bytes.
    std::string input = Write("short-key.in", "file content with a short key");
    ASSERT_TRUE(ZYKSymEncFile(input, Path("short-key.enc"), Base64Of(shortKey), 1));
    EXPECT_EQ(ReadFile(Path("short-key.enc")),
              OpenSsl("file content with a short key", "0102030405060708090a000000000000", ""));

    std::string plain = "untouched";
    std::string cipher = "untouched";
    for (const std::string& key : {Base64Of(std::string(17, 'k')), std::string(), std::string("!!!!")}) {
        EXPECT_FALSE(ZYKSymEncData("data", key, cipher)) << key;
        EXPECT_FALSE(ZYKSymDecData(cipherShort, key, plain)) << key;
        EXPECT_FALSE(ZYKSymEncFile(input, Path("refused.out"), key, 1)) << key;
    }
    EXPECT_EQ(cipher, "untouched");
    EXPECT_EQ(plain, "untouched");
    EXPECT_NE(access(Path("refused.out").c_str(), F_OK), 0);
}

TEST_F(SymmetricExportsTest, FilesArePkcs7PaddedAndMatchOpenSslBothWays) {
    std::string sixteen = "0123456789abcdef";
    std::string big(3 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
    for (const std::string* content : {&sixteen, &big}) {
        std::string input = Write("plain.bin", *content);
        ASSERT_TRUE(ZYKSymEncFile(input, Path("cipher.bin"), m_key, 1));
        std::string cipher = ReadFile(Path("cipher.bin"));
        EXPECT_EQ(cipher.size(), (content->size() / 16 + 1) * 16);
        EXPECT_TRUE(cipher == OpenSsl(*content, kKeyHex, "")) << content->size();
        // Ours decrypts what openssl encrypted, and openssl decrypts what ours encrypted.
        std::string opensslCipher = Write("openssl-cipher.bin", cipher);
        ASSERT_TRUE(ZYKSymEncFile(opensslCipher, Path("back.bin"), m_key, 0));
        EXPECT_TRUE(ReadFile(Path("back.bin")) == *content);
        EXPECT_TRUE(OpenSsl(cipher, kKeyHex, "-d") == *content);
    }
}

TEST_F(SymmetricExportsTest, FailuresReportFalseAndLeaveTheOutputAsItWas) {
    std::string input = Write("plain.txt", "secret file content");
    ASSERT_TRUE(ZYKSymEncFile(input, Path("cipher.bin"), m_key, 1));
    std::string existing = Write("existing.txt", "the output that was there before");
    const std::string wrongKey = Base64Of(FromHex("ffeeddccbbaa99887766554433221100"));

    // An input that cannot be read, a wrong key (bad padding), a ciphertext cut short.
    EXPECT_FALSE(ZYKSymEncFile(Path("missing.txt"), existing, m_key, 1));
    EXPECT_FALSE(ZYKSymEncFile(m_dir, existing, m_key, 1));  // a directory reads as an error
    EXPECT_FALSE(ZYKSymEncFile(Path("cipher.bin"), existing, wrongKey, 0));
    std::string cut = ReadFile(Path("cipher.bin"));
    std::string shortened = Write("shortened.bin", cut.substr(0, cut.size() - 5));
    EXPECT_FALSE(ZYKSymEncFile(shortened, existing, m_key, 0));
    EXPECT_EQ(ReadFile(existing), "the output that was there before");

    // An output that cannot be created.
    EXPECT_FALSE(ZYKSymEncFile(input, Path("no-such-dir/out.bin"), m_key, 1));
    EXPECT_FALSE(ZYKSymEncFile(input, Path("missing-output.bin"), wrongKey + "=", 0));

    // Nothing new in the directory: no output, no temporary file left behind.
    std::vector<std::string> names = Entries();
    EXPECT_EQ(names.size(), 4u);
    for (const std::string& name : names) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

// The output is written where fopen would write it: through links, into devices, keeping the
// file's mode and its other names.
TEST_F(SymmetricExportsTest, TheOutputIsWrittenWhereFopenWouldWriteIt) {
    std::string input = Write("plain.txt", "0123456789abcdef");
    std::string expected = OpenSsl("0123456789abcdef", kKeyHex, "");
    std::string target = Write("target.bin", "old");
    chmod(target.c_str(), 0600);
    ASSERT_EQ(symlink("target.bin", Path("link.bin").c_str()), 0);
    ASSERT_EQ(link(target.c_str(), Path("second-name.bin").c_str()), 0);
    ASSERT_TRUE(ZYKSymEncFile(input, Path("link.bin"), m_key, 1));
    struct stat st;
    ASSERT_EQ(lstat(Path("link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_TRUE(ReadFile(Path("second-name.bin")) == expected);

    // A null device of the test's own where it may make one: a writer that replaced it would not
    // replace the system's.
    std::string null = Path("null");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) null = "/dev/null";
    ASSERT_TRUE(ZYKSymEncFile(input, null, m_key, 1));
    ASSERT_EQ(lstat(null.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A name of 250 bytes and more.
    std::string longName = Path(std::string(250, 'x'));
    ASSERT_TRUE(ZYKSymEncFile(input, longName, m_key, 1));
    EXPECT_TRUE(ReadFile(longName) == expected);
}

}  // namespace
