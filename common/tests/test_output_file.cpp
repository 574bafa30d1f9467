// Output files written where fopen would write them, the old content kept until the new one is
// complete.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kit/output_file.h"

namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/output-file-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
        m_oldUmask = umask(022);
    }
    void TearDown() override {
        umask(m_oldUmask);
        (void)!system(("rm -rf '" + m_dir + "'").c_str());
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    static std::string Content(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Put(const std::string& path, const std::string& text, mode_t mode) {
        std::ofstream(path, std::ios::binary) << text;
        chmod(path.c_str(), mode);
    }
    static bool WriteAll(const std::string& path, const std::string& text) {
        kit::OutputFileWriter out(path);
        return out.IsOpen() && out.Write(text.data(), text.size()) && out.Commit();
    }
    static struct stat Stat(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st;
    }
    // The memory device `name` (minor number `minor`): a node of the test's own where the test may
    // make one, so that a writer that replaced it would not replace the system's.
    std::string Device(const std::string& name, unsigned minor) const {
        std::string own = Path(name);
        return mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0 ? own : "/dev/" + name;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(m_dir.c_str());
        while (dirent* entry = dir ? readdir(dir) : nullptr)
            if (entry->d_name[0] != '.' || entry->d_name[1] > '.') names.push_back(entry->d_name);
        if (dir) closedir(dir);
        return names;
    }

    std::string m_dir;
    mode_t m_oldUmask = 0;
};

TEST_F(OutputFileTest, AnOwnFileIsReplacedWithItsModeAndANewOneGetsTheUmaskMode) {
    Put(Path("private"), "old", 0600);
    ino_t before = Stat(Path("private")).st_ino;
    {
        kit::OutputFileWriter out(Path("private"));
        ASSERT_TRUE(out.IsOpen() && out.Write("new content", 11));
        EXPECT_EQ(Content(Path("private")), "old");  // nothing shows before the commit
        // The temporary beside it is no more readable than the file it replaces.
        for (const std::string& name : Entries()) {
            if (name != "private") {
                EXPECT_EQ(Stat(Path(name)).st_mode & 0777, 0600u) << name;
            }
        }
        ASSERT_TRUE(out.Commit());
    }
    EXPECT_EQ(Content(Path("private")), "new content");
    EXPECT_EQ(Stat(Path("private")).st_mode & 07777, 0600u);
    EXPECT_NE(Stat(Path("private")).st_ino, before);  // replaced, not rewritten

    umask(027);
    ASSERT_TRUE(WriteAll(Path("fresh"), "x"));
    EXPECT_EQ(Stat(Path("fresh")).st_mode & 07777, 0640u);
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(OutputFileTest, SymbolicLinksAreFollowedAndStayLinks) {
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
    Put(Path("sub/target"), "old", 0640);
    ASSERT_EQ(symlink("sub/target", Path("link").c_str()), 0);
    ASSERT_EQ(symlink("../link", Path("sub/link2").c_str()), 0);  // a chain, relative to each link
    ASSERT_TRUE(WriteAll(Path("sub/link2"), "through the links"));
    EXPECT_TRUE(S_ISLNK(Stat(Path("link")).st_mode));
    EXPECT_TRUE(S_ISLNK(Stat(Path("sub/link2")).st_mode));
    EXPECT_EQ(Content(Path("sub/target")), "through the links");
    EXPECT_EQ(Stat(Path("sub/target")).st_mode & 07777, 0640u);

    // A dangling link gets its target created, as fopen creates it.
    ASSERT_EQ(symlink("sub/created", Path("dangling").c_str()), 0);
    ASSERT_TRUE(WriteAll(Path("dangling"), "made"));
    EXPECT_TRUE(S_ISLNK(Stat(Path("dangling")).st_mode));
    EXPECT_EQ(Content(Path("sub/created")), "made");

    ASSERT_EQ(symlink("loop", Path("loop").c_str()), 0);
    EXPECT_FALSE(kit::OutputFileWriter(Path("loop")).IsOpen());
}

TEST_F(OutputFileTest, HardLinkedFilesKeepTheirInodeAndChangeOnlyOnCommit) {
    Put(Path("a"), "old content", 0644);
    ASSERT_EQ(link(Path("a").c_str(), Path("b").c_str()), 0);
    ino_t inode = Stat(Path("a")).st_ino;
    {
        kit::OutputFileWriter abandoned(Path("a"));
        ASSERT_TRUE(abandoned.IsOpen() && abandoned.Write("partial", 7));
    }
    EXPECT_EQ(Content(Path("b")), "old content");
    {
        kit::OutputFileWriter out(Path("a"));
        ASSERT_TRUE(out.IsOpen() && out.Write("new", 3));
        EXPECT_EQ(Content(Path("b")), "old content");
        ASSERT_TRUE(out.Commit());
    }
    EXPECT_EQ(Content(Path("b")), "new");  // shorter than the old content: cut to its length
    EXPECT_EQ(Stat(Path("a")).st_ino, inode);
    EXPECT_EQ(Stat(Path("b")).st_nlink, 2u);
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(OutputFileTest, FifosAndDevicesAreWrittenInPlace) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    // A reader that is there already (so the writer's open does not wait) and never blocks.
    int reader = open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(WriteAll(Path("fifo"), "down the pipe"));
    char received[64] = {};
    EXPECT_EQ(read(reader, received, sizeof received - 1), 13);
    EXPECT_STREQ(received, "down the pipe");
    close(reader);
    EXPECT_TRUE(S_ISFIFO(Stat(Path("fifo")).st_mode));

    const std::string null = Device("null", 3), full = Device("full", 7);
    EXPECT_TRUE(WriteAll(null, "discarded"));
    EXPECT_TRUE(S_ISCHR(Stat(null).st_mode));
    EXPECT_FALSE(WriteAll(full, "no room"));
    EXPECT_TRUE(S_ISCHR(Stat(full).st_mode));
    EXPECT_FALSE(WriteAll(m_dir, "a directory"));
}

enum class Outcome { kPassed, kFailed, kNotChecked };

// Runs `check` as an ordinary user: as root, in a child that has become "nobody" (given `dir`).
Outcome AsOrdinaryUser(const std::string& dir, const std::function<bool()>& check) {
    if (geteuid() != 0) return check() ? Outcome::kPassed : Outcome::kFailed;
    passwd* nobody = getpwnam("nobody");
    if (!nobody || chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        return Outcome::kNotChecked;
    pid_t child = fork();
    if (child == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return Outcome::kFailed;
    return WEXITSTATUS(status) == 2   ? Outcome::kNotChecked
           : WEXITSTATUS(status) == 0 ? Outcome::kPassed
                                      : Outcome::kFailed;
}

TEST_F(OutputFileTest, AReadOnlyOutputIsRefusedAsFopenWouldRefuseIt) {
    Put(Path("read-only"), "kept", 0444);
    if (geteuid() == 0) {
        passwd* nobody = getpwnam("nobody");
        if (nobody) chown(Path("read-only").c_str(), nobody->pw_uid, nobody->pw_gid);
    }
    Outcome outcome = AsOrdinaryUser(m_dir, [&] {
        return !kit::OutputFileWriter(Path("read-only")).IsOpen() && errno == EACCES &&
               Content(Path("read-only")) == "kept";
    });
    if (outcome == Outcome::kNotChecked)
        GTEST_SKIP() << "cannot run as an ordinary user: not checked";
    EXPECT_EQ(outcome, Outcome::kPassed);
    EXPECT_EQ(Content(Path("read-only")), "kept");
}

TEST_F(OutputFileTest, AnotherUsersFileKeepsItsOwner) {
    passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root to make a file of another user: not checked";
    Put(Path("theirs"), "old", 0666);
    ASSERT_EQ(chown(Path("theirs").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_TRUE(WriteAll(Path("theirs"), "new"));
    EXPECT_EQ(Content(Path("theirs")), "new");
    EXPECT_EQ(Stat(Path("theirs")).st_uid, nobody->pw_uid);
    EXPECT_EQ(Stat(Path("theirs")).st_mode & 07777, 0666u);
}

TEST_F(OutputFileTest, LongNamesGetTemporaryNamesWithinNameMax) {
    std::string name(200, 'n');
    for (int i = 0; i < 17; ++i)
        name += "名";  // 251 bytes; the temporaries cut it between characters
    Put(Path(name), "old", 0644);
    kit::OutputFileWriter out(Path(name));
    ASSERT_TRUE(out.IsOpen()) << strerror(errno);
    std::vector<std::string> entries = Entries();
    ASSERT_EQ(entries.size(), 2u);
    for (const std::string& entry : entries) {
        EXPECT_LE(entry.size(), 255u);
        if (entry != name) {
            EXPECT_TRUE(kit::IsAtomicFileTemporary(entry, name)) << entry;
        }
    }
    ASSERT_TRUE(out.Write("new", 3) && out.Commit());
    EXPECT_EQ(Content(Path(name)), "new");
    EXPECT_EQ(Entries().size(), 1u);
}

// A killed writer's temporary is removed by the next write; a live writer's is left alone.
TEST_F(OutputFileTest, OnlyTemporariesOfWritersThatAreGoneAreRemoved) {
    Put(Path("out"), "old", 0644);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        kit::OutputFileWriter out(Path("out"));
        (void)!out.Write("half", 4);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    kit::OutputFileWriter live(Path("out"));  // this process: alive, and holding its lock
    ASSERT_TRUE(live.IsOpen() && live.Write("live", 4));
    EXPECT_EQ(Entries().size(), 3u);
    ASSERT_TRUE(WriteAll(Path("out"), "while the others write"));
    EXPECT_EQ(Entries().size(), 3u);  // the child is still running

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(WriteAll(Path("out"), "after the kill"));
    EXPECT_EQ(Entries().size(), 2u);  // the killed child's temporary is gone, ours is kept
    ASSERT_TRUE(live.Commit());
    EXPECT_EQ(Content(Path("out")), "live");
    EXPECT_EQ(Entries().size(), 1u);
}

}  // namespace
