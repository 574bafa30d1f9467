#include "backends/libreoffice/profile_template.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "backends/libreoffice/office_instance.h"
#include "platform/private_dirs.h"
#include "platform/process_handles.h"
#include "kit/user_dirs.h"
#include "platform/user_dirs.h"

namespace parlux::libreoffice {
namespace fs = std::filesystem;
namespace {

constexpr int kFirstStartMs = 90000;

// One start of the office on `profile` that only initialises it; its exit status, or -1.
int InitialiseProfile(const std::string& profile) {
    pid_t pid = platform::SpawnProcess({kOfficeProgram, "-env:UserInstallation=file://" + profile, "--headless",
                                        "--invisible", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
                                        "--terminate_after_init"},
                                       QuietOfficeOptions());
    if (pid == 0) return -1;
    int status = -1;
    if (!platform::WaitChild(pid, kFirstStartMs, status)) {
        kill(pid, SIGKILL);
        platform::WaitChild(pid, 5000, status);
        return -1;
    }
    return status;
}

}  // namespace

bool CopyTree(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    return !ec;
}

// Every conversion starts from the cached profile: it is used only when nobody else can have
// changed it.
std::string ProfileCacheDirectory(std::string& error) {
    std::string dir = platform::ParluxUserDirectory("XDG_CACHE_HOME", ".cache"), ready = dir + "/lo-profile";
    std::string reason;
    if (dir.empty()) reason = "there is no home directory; set XDG_CACHE_HOME";
    else if (kit::EnsurePrivateDirectory(dir, reason) && fs::exists(fs::symlink_status(ready)))
        kit::EnsurePrivateDirectory(ready, reason);
    if (reason.empty()) return dir;
    error = "Refusing the office profile cache: " + reason + ".";
    return std::string();
}

std::string PreparedProfile(const std::string& dir, std::string& error) {
    std::string ready = dir + "/lo-profile";
    if (fs::exists(ready + "/.prepared")) return ready;
    std::error_code ec;
    int lock = open((dir + "/lo-profile.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (lock >= 0) close(lock);
        error = "Unable to prepare the office profile in " + dir + ".";
        return std::string();
    }
    if (!fs::exists(ready + "/.prepared")) {
        std::string work = dir + "/lo-profile.tmp" + std::to_string(getpid());
        platform::RemoveTree(work);
        int status = InitialiseProfile(work);
        if (status == 81) status = InitialiseProfile(work);  // the first start restarts itself
        if (status == 0 && (close(open((work + "/.prepared").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)), true)) {
            platform::RemoveTree(ready);
            fs::rename(work, ready, ec);
        } else {
            error = "The office could not initialise a profile (status " + std::to_string(status) + ").";
            platform::RemoveTree(work);
        }
    }
    close(lock);
    return fs::exists(ready + "/.prepared") ? ready : std::string();
}

}  // namespace parlux::libreoffice
