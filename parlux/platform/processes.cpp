#include "platform/processes.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "kit/process_stat.h"
#include "text.h"

namespace parlux::platform {

uint64_t TicksNow() {
    struct timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    long hz = sysconf(_SC_CLK_TCK);
    return static_cast<uint64_t>(ts.tv_sec) * static_cast<uint64_t>(hz) +
           static_cast<uint64_t>(ts.tv_nsec) * static_cast<uint64_t>(hz) / 1000000000ull;
}

namespace {

// The fields of /proc/<pid>/stat after the command name.
bool StatFields(pid_t pid, std::string& state, uint64_t& startTicks) {
    return kit::ReadProcessStat(pid, state, startTicks);
}

}  // namespace

bool ProcessStartTicks(pid_t pid, uint64_t& ticks) {
    std::string state;
    return pid > 0 && StatFields(pid, state, ticks);
}

std::string ProcessImageName(pid_t pid) {
    char path[4096];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path - 1);
    std::string name;
    if (n > 0) {
        std::string exe(path, static_cast<size_t>(n));
        const std::string deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
            exe.resize(exe.size() - deleted.size());
        name = exe.substr(exe.rfind('/') + 1);
    } else {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::getline(comm, name);
    }
    return AsciiLower(name);
}

uint32_t WindowProcessId(int32_t windowHandle) { return static_cast<uint32_t>(windowHandle); }

std::set<uint32_t> ListProcessesByImage(const std::set<std::string>& names) {
    std::set<uint32_t> pids;
    DIR* proc = opendir("/proc");
    if (!proc) return pids;
    while (struct dirent* e = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
        pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        if (names.count(ProcessImageName(pid))) pids.insert(static_cast<uint32_t>(pid));
    }
    closedir(proc);
    return pids;
}

bool CommandLineContains(pid_t pid, const std::string& text) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return !text.empty() && line.find(text) != std::string::npos;
}

namespace {

// Bound Unix sockets of this network namespace: inode and path.
std::vector<std::pair<std::string, std::string>> UnixSockets() {
    std::vector<std::pair<std::string, std::string>> sockets;
    std::ifstream in("/proc/net/unix");
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field, inode, path;
        for (int i = 0; i < 6 && fields >> field; ++i) {
        }
        if (fields >> inode >> path && !path.empty() && path[0] == '/') sockets.emplace_back(inode, path);
    }
    return sockets;
}

}  // namespace

std::set<std::string> SocketPathsOf(pid_t pid) {
    std::set<std::string> inodes, paths;
    std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* fds = opendir(fdDir.c_str())) {
        while (struct dirent* e = readdir(fds)) {
            char target[64];
            ssize_t n = readlink((fdDir + "/" + e->d_name).c_str(), target, sizeof target - 1);
            std::string link(target, n > 0 ? static_cast<size_t>(n) : 0);
            if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
        }
        closedir(fds);
    }
    for (const auto& socket : UnixSockets())
        if (inodes.count(socket.first)) paths.insert(socket.second);
    return paths;
}

bool SocketPathInUse(const std::string& path) {
    for (const auto& socket : UnixSockets())
        if (socket.second == path) return true;
    return false;
}

bool ProcessAlive(pid_t pid) {
    std::string state;
    uint64_t ticks = 0;
    if (pid <= 0 || !StatFields(pid, state, ticks)) return false;
    return state != "Z" && state != "X";
}

bool WaitForProcessExit(pid_t pid, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ProcessAlive(pid)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

uint64_t ProcessResidentBytes(pid_t pid) {
    if (pid <= 0) return 0;
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    unsigned long long size = 0, resident = 0;
    return statm >> size >> resident ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace parlux::platform
