// Path forms and file checks, with compound files made here and real documents of the corpus.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "attempt_files.h"
#include "compound_fixture.h"
#include "file_helpers.h"
#include "testing/corpus.h"
#include "worker.h"

using namespace parlux;

namespace {

const std::string kCorpus = kit_testing::CorpusDir("office");

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FileHelpersTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/parlux-files-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
        setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Runs `hold` in a child that keeps the file as `hold` left it until killed.
    pid_t HoldInChild(const std::string& path, int (*hold)(int)) {
        int ready[2];
        if (pipe(ready) != 0) return -1;
        pid_t child = fork();
        if (child == 0) {
            int fd = open(path.c_str(), O_RDWR);
            if (fd < 0 || hold(fd) != 0) _exit(1);
            char one = 1;
            if (write(ready[1], &one, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        char byte;
        if (read(ready[0], &byte, 1) != 1) return -1;
        return child;
    }
    static void Stop(pid_t child) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    std::string m_dir;
};

TEST_F(FileHelpersTest, PathForms) {
    EXPECT_EQ(fullPath("/a/./b//c/../d.docx"), "/a/b/d.docx");
    EXPECT_EQ(fullPath("/../x"), "/x");
    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    EXPECT_EQ(fullPath("sub/../r.docx"), m_dir + "/r.docx");
    EXPECT_EQ(stripLongPathPrefix("\\\\?\\UNC\\server\\share\\a.docx"), "\\\\server\\share\\a.docx");
    EXPECT_EQ(stripLongPathPrefix("\\\\?\\C:\\a.docx"), "C:\\a.docx");
    EXPECT_EQ(toLongPath("/tmp/./x"), "/tmp/x");
    // The office opens a private copy: any path the system takes is handed on, as bytes.
    std::string longName = "/" + std::string(120, 'n') + "/" + std::string(200, 'm') + ".docx";
    EXPECT_EQ(officePath(longName), longName);
    EXPECT_EQ(officePath("/" + std::string(PATH_MAX, 'n')), "");
    EXPECT_EQ(officePath("/数据/报告.docx"), "/数据/报告.docx");
    EXPECT_EQ(officePath("/d/r\xE9sum\xE9.docx"), "/d/r\xE9sum\xE9.docx");
    EXPECT_EQ(fullPath("/d/newdir/"), "/d/newdir/");  // the separator of a directory stays
    EXPECT_EQ(fullPath("/d/x/../"), "/d/");
    EXPECT_EQ(fullPath("/"), "/");
}

TEST_F(FileHelpersTest, SamePathByIdentityOrText) {
    std::string a = Write("a.docx", "x");
    ASSERT_EQ(symlink(a.c_str(), (m_dir + "/link.docx").c_str()), 0);
    ASSERT_EQ(link(a.c_str(), (m_dir + "/hard.docx").c_str()), 0);
    EXPECT_TRUE(samePath(a, m_dir + "/link.docx"));
    EXPECT_TRUE(samePath(a, m_dir + "/hard.docx"));
    EXPECT_TRUE(samePath(a, m_dir + "/./sub/../a.docx"));
    EXPECT_FALSE(samePath(a, Write("b.docx", "x")));
    EXPECT_TRUE(samePath(m_dir + "/new.pdf", m_dir + "/x/../new.pdf"));
    EXPECT_FALSE(samePath(m_dir + "/New.pdf", m_dir + "/new.pdf"));  // case counts here
}

TEST_F(FileHelpersTest, TemporaryOutputBesideTheTarget) {
    std::string out;
    int fd = -1;
    ASSERT_TRUE(makeTempOutputPath(m_dir + "/report.pdf", out, fd));
    std::string name = out.substr(out.rfind('/') + 1);
    EXPECT_EQ(out.substr(0, out.rfind('/')), m_dir);
    EXPECT_EQ(name.size(), 12u);
    EXPECT_EQ(name.substr(0, 3), "plx");
    EXPECT_EQ(name.substr(8), ".pdf");
    // The name is held by an empty private file from its creation to the commit.
    struct stat st;
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(isOwnTempFile(out, fd));
    deleteTempOutput(out, fd);
    EXPECT_EQ(fd, -1);
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    EXPECT_FALSE(makeTempOutputPath(m_dir + "/missing/report.pdf", out, fd));
    EXPECT_NE(access((m_dir + "/missing").c_str(), F_OK), 0);
    EXPECT_FALSE(makeTempOutputPath(Write("file", "x") + "/report.pdf", out, fd));
    // A target naming a directory is refused before anything is created.
    EXPECT_FALSE(makeTempOutputPath(m_dir + "/", out, fd));
    EXPECT_FALSE(makeTempOutputPath(m_dir + "/newdir/", out, fd));
    EXPECT_FALSE(makeTempOutputPath(m_dir, out, fd));
    EXPECT_EQ(fd, -1);
    std::set<std::string> tokens;
    for (int i = 0; i < 50; ++i) tokens.insert(uniqueToken());
    EXPECT_EQ(tokens.size(), 50u);
    EXPECT_EQ(uniqueToken().size(), 36u);
}

// A link or a second name planted at the temporary name is never followed, committed or deleted.
TEST_F(FileHelpersTest, CommitRefusesWhatIsNotTheOwnTemporaryFile) {
    std::string victim = Write("victim.txt", "keep me"), target = m_dir + "/out.pdf", out;
    int fd = -1;
    ASSERT_TRUE(makeTempOutputPath(target, out, fd));
    ASSERT_EQ(pwrite(fd, "%PDF-1.7\n", 9, 0), 9);
    EXPECT_TRUE(isValidPdf(fd));
    ASSERT_EQ(unlink(out.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), out.c_str()), 0);
    EXPECT_FALSE(isOwnTempFile(out, fd));
    EXPECT_FALSE(isValidPdf(out));  // not followed
    EXPECT_FALSE(commitOutput(out, fd, target));
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    deleteTempOutput(out, fd);
    struct stat st;
    EXPECT_EQ(lstat(out.c_str(), &st), 0);  // the planted link is not this run's to delete
    EXPECT_EQ(ReadAll(victim), "keep me");

    ASSERT_TRUE(makeTempOutputPath(target, out, fd));
    ASSERT_EQ(link(out.c_str(), (m_dir + "/second").c_str()), 0);
    EXPECT_FALSE(commitOutput(out, fd, target));  // a second link could change it after the check
    ASSERT_EQ(unlink((m_dir + "/second").c_str()), 0);
    ASSERT_EQ(pwrite(fd, "%PDF-1.7\n", 9, 0), 9);
    EXPECT_TRUE(commitOutput(out, fd, target));
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(ReadAll(target), "%PDF-1.7\n");
    EXPECT_NE(access(out.c_str(), F_OK), 0);
}

// Temporaries a killed writer left go with the next temporary made in their directory; files
// of a live writer, held by a process still writing, replaced since, or not made here stay.
TEST_F(FileHelpersTest, TemporariesOfAWriterThatIsGoneAreRemovedFromTheirDirectoryOnly) {
    ASSERT_EQ(mkdir((m_dir + "/other").c_str(), 0755), 0);
    int paths[2];
    ASSERT_EQ(pipe(paths), 0);
    pid_t writer = fork();
    if (writer == 0) {  // makes its temporaries and dies without cleaning up
        std::string all, out;
        int fd = -1;
        for (const char* target : {"/a.pdf", "/b.pdf", "/c.pdf", "/other/d.pdf"})
            if (makeTempOutputPath(m_dir + target, out, fd)) all += out + "\n";
        _exit(write(paths[1], all.data(), all.size()) == static_cast<ssize_t>(all.size()) ? 0 : 1);
    }
    close(paths[1]);
    std::string listed(4096, '\0');
    listed.resize(static_cast<size_t>(std::max<ssize_t>(0, read(paths[0], &listed[0], listed.size()))));
    close(paths[0]);
    int status = 0;
    waitpid(writer, &status, 0);
    std::vector<std::string> left;
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) left.push_back(line);
    ASSERT_EQ(left.size(), 4u);
    const std::string &gone = left[0], &held = left[1], &replaced = left[2], &elsewhere = left[3];
    // A worker still writes the second; the third name now holds another file.
    int writing = open(held.c_str(), O_WRONLY);
    ASSERT_GE(writing, 0);
    ASSERT_EQ(flock(writing, LOCK_SH), 0);
    ASSERT_EQ(unlink(replaced.c_str()), 0);
    std::ofstream(replaced) << "someone else's";
    std::string foreign = Write("plx12345.pdf", "%PDF-1.4");
    std::string live, out;
    int liveFd = -1, fd = -1;
    ASSERT_TRUE(makeTempOutputPath(m_dir + "/live.pdf", live, liveFd));

    ASSERT_TRUE(makeTempOutputPath(m_dir + "/next.pdf", out, fd));
    EXPECT_NE(access(gone.c_str(), F_OK), 0);
    for (const std::string& kept : {held, replaced, foreign, live, elsewhere})
        EXPECT_EQ(access(kept.c_str(), F_OK), 0) << kept;
    EXPECT_EQ(ReadAll(replaced), "someone else's");
    deleteTempOutput(out, fd);

    close(writing);  // the worker is done: the next temporaries here and there clear the rest
    ASSERT_TRUE(makeTempOutputPath(m_dir + "/next.pdf", out, fd));
    deleteTempOutput(out, fd);
    ASSERT_TRUE(makeTempOutputPath(m_dir + "/other/next.pdf", out, fd));
    deleteTempOutput(out, fd);
    EXPECT_NE(access(held.c_str(), F_OK), 0);
    EXPECT_NE(access(elsewhere.c_str(), F_OK), 0);
    for (const std::string& kept : {replaced, foreign, live}) EXPECT_EQ(access(kept.c_str(), F_OK), 0) << kept;
    deleteTempOutput(live, liveFd);
    // Every record went with its temporary, the replaced one's included.
    std::string records = m_dir + "/state/parlux/temporaries";
    DIR* dir = opendir(records.c_str());
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (struct dirent* e = readdir(dir)) entries += e->d_name[0] != '.';
    closedir(dir);
    EXPECT_EQ(entries, 0);
}

// The temporary stays private until its commit; the target then has the mode of the file it
// replaced, or that of a new file under the umask.
TEST_F(FileHelpersTest, CommittedPdfTakesTheModeOfTheReplacedFileOrOfTheUmask) {
    mode_t previous = umask(022);
    auto commit = [&](const std::string& target) {
        std::string out;
        int fd = -1;
        if (!makeTempOutputPath(target, out, fd) || pwrite(fd, "%PDF-1.7\n", 9, 0) != 9) return 0u;
        struct stat st;
        bool privateBefore = fstat(fd, &st) == 0 && (st.st_mode & 0777) == 0600;
        if (!commitOutput(out, fd, target) || stat(target.c_str(), &st) != 0) return 0u;
        return privateBefore ? static_cast<unsigned>(st.st_mode & 0777) : 1u;
    };
    EXPECT_EQ(commit(m_dir + "/new.pdf"), 0644u);
    umask(027);
    EXPECT_EQ(commit(m_dir + "/group.pdf"), 0640u);
    std::string existing = Write("existing.pdf", "old");
    ASSERT_EQ(chmod(existing.c_str(), 0604), 0);
    umask(077);
    EXPECT_EQ(commit(existing), 0604u);
    EXPECT_EQ(ReadAll(existing), "%PDF-1.7\n");
    umask(previous);
}

TEST_F(FileHelpersTest, PdfSignatureCheck) {
    EXPECT_FALSE(isValidPdf(Write("empty.pdf", "")));
    EXPECT_FALSE(isValidPdf(Write("four.pdf", "%PDF")));
    EXPECT_FALSE(isValidPdf(Write("one.pdf", "%PDF1.7")));
    EXPECT_TRUE(isValidPdf(Write("good.pdf", "%PDF-1.7\n...")));
    EXPECT_FALSE(isValidPdf(m_dir + "/none.pdf"));
    EXPECT_FALSE(isValidPdf(m_dir));
}

TEST_F(FileHelpersTest, SourceAccessMissingBusyAndFree) {
    EXPECT_EQ(checkSourceAccess(m_dir + "/none.docx"), kSourceUnavailable);
    EXPECT_EQ(checkSourceAccess(m_dir), kSourceUnavailable);
    // A FIFO with no writer would block an ordinary open for ever.
    ASSERT_EQ(mkfifo((m_dir + "/fifo.docx").c_str(), 0600), 0);
    EXPECT_EQ(checkSourceAccess(m_dir + "/fifo.docx"), kSourceUnavailable);
    EXPECT_EQ(checkSourceAccess("/dev/null"), kSourceUnavailable);
    std::string doc = Write("doc.docx", "content");
    EXPECT_EQ(checkSourceAccess(doc), kSuccess);

    pid_t writer = HoldInChild(doc, [](int fd) {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        return fcntl(fd, F_SETLK, &lock);
    });
    ASSERT_GT(writer, 0);
    EXPECT_EQ(checkSourceAccess(doc), kSourceBusy);
    Stop(writer);
    pid_t exclusive = HoldInChild(doc, [](int fd) { return flock(fd, LOCK_EX); });
    ASSERT_GT(exclusive, 0);
    EXPECT_EQ(checkSourceAccess(doc), kSourceBusy);
    Stop(exclusive);
    EXPECT_EQ(checkSourceAccess(doc), kSuccess);

    // A LibreOffice lock file counts while the document is open somewhere, not when stale.
    Write(".~lock.doc.docx#", ",user,host,09.12.2026 08:00,file:///tmp;");
    EXPECT_EQ(checkSourceAccess(doc), kSuccess);
    pid_t editor = HoldInChild(doc, [](int) { return 0; });
    ASSERT_GT(editor, 0);
    EXPECT_EQ(checkSourceAccess(doc), kSourceBusy);
    Stop(editor);
}

TEST_F(FileHelpersTest, EncryptedPackagesMadeHere) {
    using parlux::testing::CompoundFileBytes;
    std::string encrypted = CompoundFileBytes({"EncryptionInfo", "EncryptedPackage"});
    EXPECT_TRUE(isEncryptedPackage(Write("secret.docx", encrypted)));
    EXPECT_TRUE(isEncryptedPackage(Write("alone.xlsx", CompoundFileBytes({"EncryptedPackage"}))));
    EXPECT_FALSE(isEncryptedPackage(Write("plain.doc", CompoundFileBytes({"1Table", "WordDocument"}))));
    EXPECT_FALSE(isEncryptedPackage(Write("zip.docx", std::string("PK\x03\x04", 4) + std::string(600, '\0'))));
    EXPECT_FALSE(isEncryptedPackage(Write("cut.docx", encrypted.substr(0, 1024))));  // the directory is cut off
    // A directory whose sibling points at itself is refused, not walked forever.
    std::string looped = encrypted;
    looped[2 * 512 + 128 + 0x48] = 1;  // the first stream's right sibling (directory in sector 1): itself
    EXPECT_FALSE(isEncryptedPackage(Write("looped.docx", looped)));
}

TEST_F(FileHelpersTest, EncryptedPackagesOfTheCorpus) {
    SKIP_WITHOUT_CORPUS("office", "password-protected packages written by Office and other tools");
    EXPECT_TRUE(isEncryptedPackage(kCorpus + "/docx-encrypted-agile.docx"));
    EXPECT_TRUE(isEncryptedPackage(kCorpus + "/docx-encrypted-standard.docx"));
    EXPECT_TRUE(isEncryptedPackage(kCorpus + "/xlsx-encrypted-agile.xlsx"));
    EXPECT_FALSE(isEncryptedPackage(kCorpus + "/docx-comments.docx"));  // a ZIP package
    EXPECT_FALSE(isEncryptedPackage(kCorpus + "/doc-plain.doc"));      // compound, not encrypted
    EXPECT_FALSE(isEncryptedPackage(kCorpus + "/doc-encrypted-rc4cryptoapi.doc"));  // caught at opening
    EXPECT_FALSE(isEncryptedPackage(m_dir + "/none.docx"));
    // Damaged compound files are refused, not trusted.
    std::string header = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\xFF');
    EXPECT_FALSE(isEncryptedPackage(Write("damaged.docx", header)));
    std::ifstream in(kCorpus + "/docx-encrypted-agile.docx", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(isEncryptedPackage(Write("cut.docx", bytes.substr(0, 1024))));
}

}  // namespace

// An office may bind a pipe after the worker's last look at it: the supervisor's own record
// before it stops the office is what lets the stale socket file be removed afterwards.
TEST_F(FileHelpersTest, OfficeSocketsRecordedLateAreRemovedOnceNobodyListens) {
    std::string path = "/tmp/OSL_PIPE_" + std::to_string(geteuid()) + "_plxtest" + std::to_string(getpid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    unlink(path.c_str());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t office = fork();
    ASSERT_GE(office, 0);
    if (office == 0) {
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        char ok = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s, 1) == 0;
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_TRUE(ok);

    RecordOfficeSockets(m_dir, static_cast<uint32_t>(office));
    EXPECT_NE(ReadAll(m_dir + "/" + kOfficeSocketsFile).find(path + "\n"), std::string::npos);
    RemoveOfficeSockets(m_dir);
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << "a socket still listened on was removed";
    kill(office, SIGKILL);
    waitpid(office, nullptr, 0);
    RemoveOfficeSockets(m_dir);
    EXPECT_NE(lstat(path.c_str(), &st), 0) << "the stale socket stayed";
    unlink(path.c_str());
}
