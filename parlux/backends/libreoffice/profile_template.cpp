#include "backends/libreoffice/profile_template.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// The installed office's version ("7.4"), from its own configuration; empty when unknown.
std::string InstalledOfficeVersion() {
    std::ifstream in(fs::path(kOfficeProgram).parent_path().parent_path() / "share/registry/main.xcd");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The value set for the product, not the schema's declaration of the property.
    const std::string key = "<prop oor:name=\"ooSetupVersion\">", open = "<value>";
    size_t at = text.find(key), close = text.find("</prop>", at);
    if (at == std::string::npos || (at = text.find(open, at)) == std::string::npos || at > close)
        return std::string();
    at += open.size();
    size_t end = text.find('<', at);
    std::string version = end == std::string::npos ? std::string() : text.substr(at, end - at);
    bool plain = !version.empty() && version.size() <= 16 &&
                 version.find_first_not_of("0123456789.") == std::string::npos;
    return plain ? version : std::string();
}

// Records in the profile that it already ran this office version. Without it, every start of a
// headless office takes the profile for an upgraded one and first runs seconds of graphics
// self-tests.
bool NoteOfficeVersion(const std::string& profile, const std::string& version) {
    std::string path = profile + "/user/registrymodifications.xcu";
    std::string text;
    {
        std::ifstream in(path);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    size_t end = text.rfind("</oor:items>");
    if (end == std::string::npos) return false;
    text.insert(end, "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                     "oor:op=\"fuse\"><value>" + version + "</value></prop></item>\n");
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

// The template is ready when it was prepared for the installed version (when that is known).
bool Prepared(const std::string& ready, const std::string& version) {
    std::ifstream marker(ready + "/.prepared");
    std::string noted;
    std::getline(marker, noted);
    return marker.is_open() && noted == version;
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
    std::string ready = dir + "/lo-profile", version = InstalledOfficeVersion();
    if (Prepared(ready, version)) return ready;
    std::error_code ec;
    int lock = open((dir + "/lo-profile.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (lock >= 0) close(lock);
        error = "Unable to prepare the office profile in " + dir + ".";
        return std::string();
    }
    if (!Prepared(ready, version)) {
        std::string work = dir + "/lo-profile.tmp" + std::to_string(getpid());
        platform::RemoveTree(work);
        int status = InitialiseProfile(work);
        if (status == 81) status = InitialiseProfile(work);  // the first start restarts itself
        // A profile the version cannot be noted in still works, only its starts are slower.
        if (status == 0 && !version.empty()) NoteOfficeVersion(work, version);
        std::ofstream marker(work + "/.prepared", std::ios::trunc);
        if (status == 0 && marker << version << "\n" && marker.flush()) {
            marker.close();
            platform::RemoveTree(ready);
            fs::rename(work, ready, ec);
        } else {
            error = "The office could not initialise a profile (status " + std::to_string(status) + ").";
            platform::RemoveTree(work);
        }
    }
    close(lock);
    return Prepared(ready, version) ? ready : std::string();
}

}  // namespace parlux::libreoffice
