// Result codes, the worker records and the shared log.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "hresult.h"
#include "log.h"
#include "platform/user_dirs.h"
#include "records.h"

using namespace parlux;

namespace {

std::string TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/parlux-XXXXXX";
    if (!mkdtemp(&pattern[0])) throw std::runtime_error("mkdtemp");
    return pattern;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t U32At(const void* base, size_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const char*>(base) + offset, 4);
    return v;
}

TEST(Results, NamesAndHresultText) {
    EXPECT_STREQ(resultName(-1), "invalid_arguments");
    EXPECT_STREQ(resultName(1), "success");
    EXPECT_STREQ(resultName(13), "internal_error");
    for (int code : {0, 14, -2, 100}) EXPECT_STREQ(resultName(code), "unknown") << code;
    EXPECT_EQ(formatHresult(kHrAccessDenied), "0x80070005");
    EXPECT_EQ(formatHresult(0), "0x00000000");
    EXPECT_EQ(formatHresult(kSFalse), "0x00000001");
    EXPECT_EQ(hresultFromWin32(0), 0);
    EXPECT_EQ(hresultFromWin32(-5), -5);
    EXPECT_EQ(static_cast<uint32_t>(hresultFromWin32(5)), 0x80070005u);
    EXPECT_EQ(static_cast<uint32_t>(hresultFromWin32(0x12345)), 0x80072345u);
    EXPECT_EQ(static_cast<uint32_t>(hresultFromWin32(win32FromErrno(EBUSY))), 0x80070020u);
}

TEST(Records, LayoutDefaultsAndMessages) {
    ConversionResult r = NewResult();
    EXPECT_EQ(r.size, 540u);
    EXPECT_EQ(r.version, 1u);
    EXPECT_EQ(r.code, kInternalError);
    EXPECT_EQ(r.stage, 0u);
    EXPECT_EQ(r.message[0], 0);
    r.code = kNoContent;
    r.hr = kHrTimedOut;
    r.pid = 4242;
    r.owned = 1;
    SetMessage(r.message, "工作簿没有内容");
    WorkerMessage m = ResultMessage(r);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(&m);
    EXPECT_EQ(std::memcmp(raw, "PLXW", 4), 0);
    EXPECT_EQ(U32At(raw, 0), 0x57584C50u);
    EXPECT_EQ(U32At(raw, 4), 1088u);
    EXPECT_EQ(U32At(raw, 8), 2u);
    for (size_t i = 12; i < 548; ++i) ASSERT_EQ(raw[i], 0) << i;  // no progress in a result message
    EXPECT_EQ(U32At(raw, 548), 540u);
    EXPECT_EQ(U32At(raw, 548 + 8), 7u);
    EXPECT_EQ(U32At(raw, 548 + 16), 0x80070102u);
    EXPECT_EQ(U32At(raw, 548 + 20), 4242u);
    EXPECT_EQ(raw[548 + 28], 0xE5);  // UTF-16LE of 工 (U+5DE5)
    EXPECT_EQ(raw[548 + 29], 0x5D);
    EXPECT_EQ(MessageText(m.result.message), "工作簿没有内容");

    ConversionProgress p = NewProgress();
    EXPECT_EQ(p.size, 536u);
    SetMessage(p.message, std::string(300, 'x'));
    EXPECT_EQ(MessageText(p.message), std::string(255, 'x'));
    WorkerMessage pm = ProgressMessage(p);
    EXPECT_EQ(pm.kind, 1u);
    EXPECT_TRUE(IsWellFormed(pm));
    pm.magic[0] = 'Q';
    EXPECT_FALSE(IsWellFormed(pm));
    pm = ProgressMessage(p);
    pm.size = 1087;
    EXPECT_FALSE(IsWellFormed(pm));
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { m_path = TempDir() + "/convertLog.txt"; }
    std::string m_path;
};

TEST_F(LogTest, LinesHaveTheFixedLayoutAndAreUtf8) {
    writeLogTo(m_path, kInfo, "request=ABC stage=open file=报告.docx");
    writeLogTo(m_path, kError, "request=ABC result=timeout");
    writeLogTo(m_path, static_cast<LogLevel>(9), "odd");
    // File names are bytes and may hold line ends: one line, malformed bytes as U+FFFD.
    writeLogTo(m_path, kDebug, std::string("source=/d/r\xE9sum\xE9.docx"));
    writeLogTo(m_path, kWarn, "source=/d/a\n[2026-01-01 00:00:00.000] [1:1] INFO  - forged\r\t\x01.docx");
    std::string log = Read(m_path);
    std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[\d+:\d+\] INFO  - request=ABC stage=open file=报告\.docx\r\n)");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_NE(log.find("] ERROR - request=ABC result=timeout\r\n"), std::string::npos);
    EXPECT_NE(log.find("] UNKWN - odd\r\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG - source=/d/r\xEF\xBF\xBDsum\xEF\xBF\xBD.docx\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WARN  - source=/d/a\\n[2026-01-01 00:00:00.000] [1:1] INFO  - forged\\r\\t\\x01.docx\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
    EXPECT_NE(log.substr(0, 3), "\xEF\xBB\xBF");
}

// Lines are in the file as soon as they are written, while their flush to the disk waits: the
// process keeps one descriptor open for it at most, however many lines and files it writes.
TEST_F(LogTest, EachLineIsInItsFileAtOnceAndAtMostOneDescriptorStaysOpen) {
    auto openDescriptors = [] {
        int count = 0;
        if (DIR* fds = opendir("/proc/self/fd")) {
            while (struct dirent* e = readdir(fds)) count += e->d_name[0] != '.';
            closedir(fds);
        }
        return count;
    };
    std::string other = TempDir() + "/otherLog.txt";
    writeLogTo(m_path, kInfo, "first");
    int before = openDescriptors();
    for (int i = 0; i < 200; ++i) {
        const std::string& path = i % 2 ? other : m_path;
        writeLogTo(path, kDebug, "line=" + std::to_string(i));
        EXPECT_NE(Read(path).find("line=" + std::to_string(i) + "\r\n"), std::string::npos) << i;
    }
    EXPECT_LE(openDescriptors(), before + 1);
    std::string log = Read(m_path) + Read(other);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 201);
}

TEST_F(LogTest, RotatesAtTwentyMegabytesAndKeepsFourFiles) {
    std::ofstream(m_path).close();
    ASSERT_EQ(truncate(m_path.c_str(), kRotateBytes - 1), 0);
    writeLogTo(m_path, kInfo, "below the limit");
    EXPECT_NE(access((m_path + ".1").c_str(), F_OK), 0);
    ASSERT_EQ(truncate(m_path.c_str(), kRotateBytes), 0);
    writeLogTo(m_path, kInfo, "first after rotation");
    EXPECT_EQ(access((m_path + ".1").c_str(), F_OK), 0);
    EXPECT_NE(Read(m_path).find("first after rotation"), std::string::npos);
    EXPECT_LT(Read(m_path).size(), 200u);
    for (int round = 2; round <= 4; ++round) {
        ASSERT_EQ(truncate(m_path.c_str(), kRotateBytes), 0);
        writeLogTo(m_path, kInfo, "round " + std::to_string(round));
    }
    // Four files at most: the fourth rotation deleted the oldest (the file of "below the limit").
    for (const char* suffix : {".1", ".2", ".3"}) EXPECT_EQ(access((m_path + suffix).c_str(), F_OK), 0) << suffix;
    EXPECT_NE(access((m_path + ".4").c_str(), F_OK), 0);
    EXPECT_NE(Read(m_path + ".3").find("first after rotation"), std::string::npos);
    EXPECT_NE(Read(m_path + ".2").find("round 2"), std::string::npos);
    EXPECT_NE(Read(m_path + ".1").find("round 3"), std::string::npos);
    for (const char* suffix : {"", ".1", ".2", ".3"})
        EXPECT_EQ(Read(m_path + suffix).find("below the limit"), std::string::npos) << suffix;
}

TEST_F(LogTest, AStuckLockHolderDelaysALineButDoesNotLoseIt) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        int fd = open((m_path + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        flock(fd, LOCK_EX);
        char one = 1;
        if (write(pipeFds[1], &one, 1) != 1) _exit(1);
        sleep(30);
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
    auto start = std::chrono::steady_clock::now();
    writeLogTo(m_path, kWarn, "written anyway");
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_GE(waited, 4.9);
    EXPECT_NE(Read(m_path).find("WARN  - written anyway"), std::string::npos);
}

TEST_F(LogTest, TwoProcessesAppendWithoutTornLines) {
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            for (int i = 0; i < 150; ++i)
                writeLogTo(m_path, kDebug, "request=W" + std::to_string(w) + " line=" + std::to_string(i) + " " +
                                               std::string(100, static_cast<char>('a' + w)));
            _exit(0);
        }
    }
    for (pid_t p : writers) waitpid(p, nullptr, 0);
    std::stringstream log(Read(m_path));
    std::regex whole(R"(\[[^\]]+\] \[\d+:\d+\] DEBUG - request=W([01]) line=\d+ (a{100}|b{100})\r)");
    std::string line;
    int count = 0;
    while (std::getline(log, line)) {
        ++count;
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(count, 300);
}

TEST(LogPath, BesideTheProgramInLogs) {
    std::string path = logFilePath();
    EXPECT_NE(path.find("/Logs/convertLog.txt"), std::string::npos) << path;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A program installed in the system's directories logs to the user's state directory and never
// makes a Logs directory beside itself, even as root; a copied kit keeps its log beside it.
TEST(LogPath, AnInstalledProgramLogsToTheStateDirectoryAndCreatesNothingBesideItself) {
    std::string dir = TempDir(), state = dir + "/state";
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    std::string fakeRoot = "/opt/parlux-log-test-" + std::to_string(getpid());
    EXPECT_EQ(logFilePathFor(fakeRoot + "/bin/parlux"), state + "/parlux/convertLog.txt");
    EXPECT_TRUE(IsDirectory(state + "/parlux"));
    EXPECT_FALSE(IsDirectory(fakeRoot)) << "created beside an installed program";
    if (IsDirectory(fakeRoot)) (void)!system(("rm -rf '" + fakeRoot + "'").c_str());
    for (const char* bin : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        std::string installed = bin;
        bool before = IsDirectory(installed + "/Logs");
        EXPECT_EQ(logFilePathFor(installed + "/parlux"), state + "/parlux/convertLog.txt");
        EXPECT_EQ(IsDirectory(installed + "/Logs"), before) << installed;
        if (!before) rmdir((installed + "/Logs").c_str());
    }

    // Outside the system's directories (a kit named like one included) the log stays beside it.
    for (const std::string& kit : {dir + "/kit", dir + "/usr", dir + "/opt-kit"}) {
        mkdir(kit.c_str(), 0755);
        EXPECT_EQ(logFilePathFor(kit + "/parlux"), kit + "/Logs/convertLog.txt");
        EXPECT_TRUE(IsDirectory(kit + "/Logs"));
    }
    EXPECT_FALSE(platform::InstalledInSystemDirectory("/usrlocal/parlux"));
    EXPECT_FALSE(platform::InstalledInSystemDirectory("/home/someone/opt/parlux"));
    EXPECT_TRUE(platform::InstalledInSystemDirectory("/sbin/parlux"));

    // Without XDG_STATE_HOME: root's go to /var/log/parlux, another user's to the home.
    const char* realHome = getenv("HOME");
    std::string savedHome = realHome ? realHome : "";
    std::string home = dir + "/home";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_STATE_HOME");
    if (geteuid() == 0) {
        EXPECT_EQ(platform::UserLogDirectory(), "/var/log/parlux");
    }
    pid_t user = fork();
    if (user == 0) {  // as another user: the home's state directory, none in a system account's home
        if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
        bool inHome = platform::UserLogDirectory() == home + "/.local/state/parlux";
        setenv("HOME", "/usr/sbin", 1);
        _exit(inHome && platform::UserLogDirectory().empty() ? 0 : 1);
    }
    int status = -1;
    waitpid(user, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (realHome) setenv("HOME", savedHome.c_str(), 1);
    (void)!system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
