#include "attempt_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <set>

#include "platform/processes.h"
#include "worker.h"

namespace parlux {

uint32_t RecordedOfficePid(const std::string& attemptDir) {
    std::ifstream in(attemptDir + "/" + kOfficePidFile);
    long long pid = 0;
    return in >> pid && pid > 0 && pid <= INT32_MAX ? static_cast<uint32_t>(pid) : 0;
}

void RecordOfficeSockets(const std::string& attemptDir, uint32_t office) {
    std::set<std::string> sockets = platform::SocketPathsOf(static_cast<pid_t>(office));
    if (sockets.empty()) return;
    std::ofstream record(attemptDir + "/" + kOfficeSocketsFile, std::ios::app);
    for (const std::string& path : sockets) record << path << "\n";
}

void RemoveOfficeSockets(const std::string& attemptDir) {
    std::ifstream in(attemptDir + "/" + kOfficeSocketsFile);
    for (std::string path; std::getline(in, path);) {
        struct stat st;
        std::string name = path.substr(path.rfind('/') + 1);
        if (name.rfind("OSL_PIPE_", 0) == 0 && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
            st.st_uid == geteuid() && !platform::SocketPathInUse(path))
            unlink(path.c_str());
    }
}

}  // namespace parlux
