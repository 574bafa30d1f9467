// Files written beside their path: the path shows the old file until the new one is complete.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "kit/atomic_file.h"

namespace {

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/atomic-file-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
        m_path = m_dir + "/out.bin";
        std::ofstream(m_path) << "old content";
    }
    void TearDown() override { (void)!system(("rm -rf '" + m_dir + "'").c_str()); }
    std::string Content() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int EntryCount() const {
        int n = 0;
        DIR* dir = opendir(m_dir.c_str());
        while (dirent* entry = dir ? readdir(dir) : nullptr) n += entry->d_name[0] != '.';
        if (dir) closedir(dir);
        return n;
    }
    std::string m_dir, m_path;
};

TEST_F(AtomicFileTest, CommitReplacesThePathAndAbandoningLeavesItAsItWas) {
    {
        kit::AtomicFileWriter file(m_path);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(file.Write("new ", 4));
        EXPECT_EQ(Content(), "old content");  // nothing shows before the commit
        EXPECT_EQ(EntryCount(), 2);
    }
    EXPECT_EQ(Content(), "old content");
    EXPECT_EQ(EntryCount(), 1);  // the abandoned temporary file is gone

    kit::AtomicFileWriter file(m_path);
    ASSERT_TRUE(file.Write("new ", 4) && file.Write("content", 7));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(Content(), "new content");
    EXPECT_EQ(EntryCount(), 1);
    EXPECT_FALSE(file.Commit());  // once only
}

TEST_F(AtomicFileTest, AMissingDirectoryCannotBeWritten) {
    kit::AtomicFileWriter file(m_dir + "/missing/out.bin");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_FALSE(file.Commit());
}

// What a killed writer leaves is recognised by name, and nothing else is.
TEST_F(AtomicFileTest, TheWritersTemporaryNamesAreRecognised) {
    kit::AtomicFileWriter file(m_path);
    ASSERT_TRUE(file.IsOpen());
    std::string left;
    DIR* dir = opendir(m_dir.c_str());
    while (dirent* entry = dir ? readdir(dir) : nullptr)
        if (std::string(entry->d_name) != "out.bin" && entry->d_name[0] != '.') left = entry->d_name;
    if (dir) closedir(dir);
    EXPECT_TRUE(kit::IsAtomicFileTemporary(left, "out.bin")) << left;
    EXPECT_FALSE(kit::IsAtomicFileTemporary(left, "out"));
    EXPECT_FALSE(kit::IsAtomicFileTemporary("out.bin", "out.bin"));
    EXPECT_FALSE(kit::IsAtomicFileTemporary("out.bin.tmp-0123456789ab.json", "out.bin"));
    EXPECT_FALSE(kit::IsAtomicFileTemporary("out.bin.tmp-0123456789aG", "out.bin"));
    EXPECT_FALSE(kit::IsAtomicFileTemporary("out.bin.tmp-0123456789a", "out.bin"));
}

// A writer that is gone leaves a temporary that the next writer removes; a running writer's, an
// earlier version's (no writer recorded) and one naming a pid no process can have are kept.
TEST_F(AtomicFileTest, OnlyTemporariesOfGoneWritersAreRemoved) {
    kit::AtomicFileWriter live(m_path);
    ASSERT_TRUE(live.IsOpen());
    // Above the largest pid_max; the last one is that pid plus 2^32, which a narrowing
    // conversion would take for it.
    const std::string gone = "out.bin.tmp-4194305-1-0123abcd";
    const std::string old = "out.bin.tmp-0123456789ab";
    const std::string impossible = "out.bin.tmp-4299161601-1-0123abcd";
    for (const std::string& name : {gone, old, impossible}) {
        std::ofstream(m_dir + "/" + name) << "x";
        EXPECT_TRUE(kit::IsAtomicFileTemporary(name, "out.bin")) << name;
    }
    ASSERT_EQ(EntryCount(), 5);
    kit::RemoveAbandonedTemporaries(m_path);
    EXPECT_EQ(EntryCount(), 4);
    EXPECT_FALSE(std::ifstream(m_dir + "/" + gone).good());
    EXPECT_TRUE(std::ifstream(m_dir + "/" + impossible).good());
    ASSERT_TRUE(live.Write("new", 3));
    ASSERT_TRUE(live.Commit());
    EXPECT_EQ(Content(), "new");
}

}  // namespace
