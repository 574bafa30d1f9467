// Runs a shell command for a test and collects its standard output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kit_testing {

struct CommandOutput {
    int status;  // the exit status, -1 when the command did not exit normally
    std::string out;
};

inline CommandOutput RunCommand(const std::string& command) {
    CommandOutput result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.out.append(buf, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace kit_testing
