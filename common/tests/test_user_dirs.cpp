// Home and private directories: no shared fallback, nothing used that another user could have made.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "kit/user_dirs.h"

namespace {

class PrivateDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/private-dir-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { (void)!system(("rm -rf '" + m_dir + "'").c_str()); }
    static mode_t Mode(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    std::string m_dir;
};

TEST(HomeDirectory, FromTheEnvironmentElseThePasswordDatabase) {
    const char* saved = getenv("HOME");
    std::string home = saved ? saved : "";
    setenv("HOME", "/somewhere/else", 1);
    EXPECT_EQ(kit::HomeDirectory(), "/somewhere/else");
    unsetenv("HOME");
    struct passwd* entry = getpwuid(geteuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(kit::HomeDirectory(), entry->pw_dir);
    setenv("HOME", "", 1);  // empty counts as unset
    EXPECT_EQ(kit::HomeDirectory(), entry->pw_dir);
    if (saved) setenv("HOME", home.c_str(), 1);
}

TEST_F(PrivateDirectoryTest, MadeWithItsParentsForTheUserOnly) {
    std::string error, path = m_dir + "/a/b/store";
    umask(022);
    ASSERT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;
    EXPECT_EQ(Mode(path), 0700u);
    EXPECT_EQ(Mode(m_dir + "/a"), 0700u);
    EXPECT_EQ(Mode(m_dir + "/a/b"), 0700u);
    EXPECT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;  // and accepted again
    chmod(path.c_str(), 0755);  // readable by others is the user's choice
    EXPECT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;
    EXPECT_FALSE(kit::EnsurePrivateDirectory("relative/dir", error));
}

TEST_F(PrivateDirectoryTest, DirectoriesOthersCouldHaveChangedAreRefused) {
    std::string error, open = m_dir + "/open";
    mkdir(open.c_str(), 0700);
    chmod(open.c_str(), 0777);
    EXPECT_FALSE(kit::EnsurePrivateDirectory(open, error));
    EXPECT_NE(error.find("writable by other users"), std::string::npos) << error;
    chmod(open.c_str(), 0770);
    EXPECT_FALSE(kit::EnsurePrivateDirectory(open, error));

    std::string link = m_dir + "/link", target = m_dir + "/target";
    mkdir(target.c_str(), 0700);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(kit::EnsurePrivateDirectory(link, error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;

    std::string file = m_dir + "/file";
    std::ofstream(file) << "x";
    EXPECT_FALSE(kit::EnsurePrivateDirectory(file, error));
}

TEST_F(PrivateDirectoryTest, ADirectoryOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a directory to another user";
    std::string theirs = m_dir + "/theirs";
    mkdir(theirs.c_str(), 0700);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    std::string error;
    EXPECT_FALSE(kit::EnsurePrivateDirectory(theirs, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
}

}  // namespace
