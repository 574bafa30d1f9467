// The file writers' Windows versions: whole files or nothing, read-only outputs refused, and
// only the temporaries of writers that are gone removed.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "kit/atomic_file.h"
#include "kit/output_file.h"
#include "kit/wide_text.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(kit::WidenUtf8(path).c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WindowsFileWriters : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = kit::NarrowToUtf8(temp) + "kit-writers-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryW(kit::WidenUtf8(m_dir).c_str(), nullptr);
        m_path = m_dir + "/out.bin";
    }
    void TearDown() override {
        _wchmod(kit::WidenUtf8(m_path).c_str(), 0600);
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(kit::WidenUtf8(m_dir + "/*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do
                DeleteFileW(
                    kit::WidenUtf8(m_dir + "/" + kit::NarrowToUtf8(entry.cFileName)).c_str());
            while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(kit::WidenUtf8(m_dir).c_str());
    }
    size_t EntryCount() const {
        size_t count = 0;
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(kit::WidenUtf8(m_dir + "/*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return 0;
        do count += !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileW(search, &entry));
        FindClose(search);
        return count;
    }
    std::string m_dir, m_path;
};

TEST_F(WindowsFileWriters, OutputReplacesTheWholeFileOnlyOnCommit) {
    std::ofstream(kit::WidenUtf8(m_path).c_str(), std::ios::binary) << "old";
    {
        kit::OutputFileWriter writer(m_path);
        ASSERT_TRUE(writer.IsOpen());
        ASSERT_TRUE(writer.Write("new\r\ncontent", 12));
        EXPECT_EQ(ReadAll(m_path), "old");  // nothing changes before the commit
    }
    EXPECT_EQ(ReadAll(m_path), "old");  // an abandoned writer leaves the old file
    EXPECT_EQ(EntryCount(), 1u);
    kit::OutputFileWriter writer(m_path);
    ASSERT_TRUE(writer.Write("new\r\ncontent", 12));
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadAll(m_path), "new\r\ncontent");  // binary: no newline translation
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(WindowsFileWriters, ReadOnlyOutputIsRefusedAndKept) {
    std::ofstream(kit::WidenUtf8(m_path).c_str(), std::ios::binary) << "kept";
    ASSERT_EQ(_wchmod(kit::WidenUtf8(m_path).c_str(), _S_IREAD), 0);
    kit::OutputFileWriter writer(m_path);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.Commit());
    EXPECT_EQ(ReadAll(m_path), "kept");
}

TEST_F(WindowsFileWriters, OnlyTemporariesOfGoneWritersAreRemoved) {
    // One of this running process, one of a pid that runs no process.
    kit::AtomicFileWriter live(m_path);
    ASSERT_TRUE(live.IsOpen());
    const std::string gone = "out.bin.tmp-4294967292-1-0123abcd";
    std::ofstream(kit::WidenUtf8(m_dir + "/" + gone).c_str()) << "x";
    EXPECT_TRUE(kit::IsAtomicFileTemporary(gone, "out.bin"));
    EXPECT_FALSE(kit::IsAtomicFileTemporary("out.bin.bak", "out.bin"));
    ASSERT_EQ(EntryCount(), 2u);
    kit::RemoveAbandonedTemporaries(m_path);
    EXPECT_EQ(EntryCount(), 1u);
    ASSERT_TRUE(live.Write("a", 1));
    ASSERT_TRUE(live.Commit());
    EXPECT_EQ(ReadAll(m_path), "a");
}

}  // namespace
