#include "log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/file_lock.h"
#include "platform/user_dirs.h"
#include "text.h"

namespace parlux {
namespace {

// Creates every missing directory along `dir`; false when it is not a writable directory
// afterwards.
bool MakeDirectories(const std::string& dir, mode_t mode) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') mkdir(dir.substr(0, pos).c_str(), mode);
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK) == 0;
}

void Rotate(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || st.st_size < kRotateBytes) return;
    unlink((path + ".3").c_str());
    rename((path + ".2").c_str(), (path + ".3").c_str());
    rename((path + ".1").c_str(), (path + ".2").c_str());
    rename(path.c_str(), (path + ".1").c_str());
}

std::string Line(LogLevel level, const std::string& message) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    struct tm local;
    localtime_r(&seconds, &local);
    char head[96];
    std::snprintf(head, sizeof head, "[%04d-%02d-%02d %02d:%02d:%02d.%03ld] [%ld:%ld] %s - ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis,
                  static_cast<long>(getpid()), static_cast<long>(syscall(SYS_gettid)), levelText(level));
    return head + message + "\r\n";
}

// Each line is in the file, for every reader, once written. The flush to the disk comes with the
// first line a second or more after the previous flush, or at exit: a run writing many lines does
// not wait for the disk at each of them. Until then the last line's descriptor stays open.
constexpr auto kFlushInterval = std::chrono::milliseconds(1000);

class LogFlusher {
public:
    // Takes `fd`, just written to, and flushes or keeps it.
    void Written(int fd) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_atExit) m_atExit = std::atexit([] { Instance().FlushPending(); }) == 0;
        auto now = std::chrono::steady_clock::now();
        struct stat held, written;
        // A line of a file rotated away since is flushed before its descriptor goes.
        if (m_pending >= 0 && (fstat(m_pending, &held) != 0 || fstat(fd, &written) != 0 ||
                               held.st_dev != written.st_dev || held.st_ino != written.st_ino))
            fsync(m_pending);
        if (m_pending >= 0) close(m_pending);
        m_pending = fd;
        if (!m_atExit || now - m_lastFlush >= kFlushInterval) {
            FlushLocked();
            m_lastFlush = now;
        }
    }
    void FlushPending() {
        std::lock_guard<std::mutex> lock(m_mutex);
        FlushLocked();
    }
    static LogFlusher& Instance() {
        static LogFlusher* flusher = new LogFlusher;  // never destroyed: lines may come from exit handlers
        return *flusher;
    }

private:
    void FlushLocked() {
        if (m_pending < 0) return;
        fsync(m_pending);
        close(m_pending);
        m_pending = -1;
    }

    std::mutex m_mutex;
    int m_pending = -1;
    bool m_atExit = false;
    std::chrono::steady_clock::time_point m_lastFlush;
};

}  // namespace

std::string logFilePathFor(const std::string& program) {
    if (program.empty()) return "convertLog.txt";
    if (!platform::InstalledInSystemDirectory(program)) {
        std::string dir = program.substr(0, program.rfind('/')) + "/Logs";
        if (MakeDirectories(dir, 0755)) return dir + "/convertLog.txt";
    }
    std::string dir = platform::UserLogDirectory();
    if (dir.empty()) return std::string();  // nowhere to log: lines are dropped
    MakeDirectories(dir, 0700);
    return dir + "/convertLog.txt";
}

std::string logFilePath() { return logFilePathFor(platform::ProgramPath()); }

void writeLogTo(const std::string& path, LogLevel level, const std::string& message) {
    if (path.empty()) return;  // nowhere to log
    platform::FileLock lock(path + ".lock", kLogLockWaitMs);  // written after the wait either way
    Rotate(path);
    // Values come from file names and office texts: one valid line whatever they hold.
    std::string line = Line(level, EscapeForLog(message));
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    LogFlusher::Instance().Written(fd);
}

void writeLog(LogLevel level, const std::string& message) { writeLogTo(logFilePath(), level, message); }

}  // namespace parlux
