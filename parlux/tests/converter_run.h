// The parlux program run as a user runs it, in a directory of its own (the log lives beside
// the program, so each test runs its own link of it).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace parlux::testing {


inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A process under an office image name that the test owns (a copy of sleep).
inline pid_t StartNamedProcess(const std::string& dir, const std::string& image) {
    std::string program = dir + "/" + image;
    WriteAll(program, ReadAll("/bin/sleep"));
    chmod(program.c_str(), 0755);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("600"), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

inline void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

struct Outcome {
    int code = 0;
    std::string err;
};

class ConverterRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/parlux-flow-XXXXXX";
        mkdir(tmp ? tmp : "/tmp", 0755);
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        m_dir = pattern;
        // The log lives beside the program: each test runs its own link of it.
        m_program = m_dir + "/parlux";
        if (link(PARLUX_BINARY, m_program.c_str()) != 0) {
            WriteAll(m_program, ReadAll(PARLUX_BINARY));
            chmod(m_program.c_str(), 0755);
        }
        // The records of temporary PDFs go beside the test's directory, which holds only its files.
        setenv("XDG_STATE_HOME", (m_dir + ".state").c_str(), 1);
        // The scripted office never reads the document: any bytes do.
        WriteAll(Path("report.docx"), std::string("PK\x03\x04 a report", 13));
    }
    void TearDown() override {
        for (pid_t pid : m_started) Stop(pid);
        std::string cmd = "rm -rf '" + m_dir + "' '" + m_dir + ".state'";
        if (!HasFailure()) (void)!system(cmd.c_str());
    }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    void Register(const std::string& text) { WriteAll(Path("classes.conf"), text); }
    void Scenario(const std::string& apps) {
        WriteAll(Path("scenario.json"),
                 R"({"calls": ")" + Path("calls.log") + R"(", "bin": ")" + Path("bin") + R"(", "apps": )" + apps + "}");
    }
    std::string Log() const { return ReadAll(Path("Logs/convertLog.txt")); }
    std::string Calls() const { return ReadAll(Path("calls.log")); }

    // Starts the program on `args`; its standard error goes to `errName` in the test directory.
    // `extraEnv` entries "NAME=VALUE" replace the variable, a bare "NAME" removes it.
    // `outName`, when given, receives its standard output; `moreActions` adds to what the
    // spawn does to the descriptors.
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
                const std::string& errName = "stderr.txt", const std::string& outName = "",
                const std::function<void(posix_spawn_file_actions_t&)>& moreActions = nullptr) {
        std::vector<std::string> env = {"PARLUX_CLASSES=" + Path("classes.conf"),
                                        "PARLUX_FAKE_SCENARIO=" + Path("scenario.json")};
        auto replaced = [&](const std::string& entry) {
            for (const std::string& extra : extraEnv)
                if (entry.rfind(extra.substr(0, extra.find('=')) + "=", 0) == 0) return true;
            return false;
        };
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("PARLUX_", 0) != 0 && !replaced(*e)) env.push_back(*e);
        for (const std::string& extra : extraEnv)
            if (extra.find('=') != std::string::npos) env.push_back(extra);
        std::vector<std::string> argv = {m_program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> a, e;
        for (auto& s : argv) a.push_back(&s[0]);
        a.push_back(nullptr);
        for (auto& s : env) e.push_back(&s[0]);
        e.push_back(nullptr);
        std::string errPath = Path(errName);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string outPath = Path(outName);
        if (!outName.empty())
            posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (moreActions) moreActions(actions);
        posix_spawn_file_actions_addchdir_np(&actions, m_dir.c_str());
        pid_t pid = 0;
        if (posix_spawn(&pid, m_program.c_str(), &actions, nullptr, a.data(), e.data()) != 0) pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    Outcome Wait(pid_t pid, const std::string& errName = "stderr.txt") {
        Outcome run;
        if (pid <= 0) {
            ADD_FAILURE() << "cannot start parlux";
            return run;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        run.code = WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
        run.err = ReadAll(Path(errName));
        return run;
    }
    Outcome Convert(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
        return Wait(Start(args, extraEnv));
    }
    // No temporary plx*.pdf left in the working directory.
    bool TempFilesLeft() const {
        std::string cmd = "ls '" + m_dir + "' | grep -q '^plx.*\\.pdf$'";
        return system(cmd.c_str()) == 0;
    }

    std::string m_dir, m_program;
    std::vector<pid_t> m_started;
};

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The office process the worker reported as its own.
inline pid_t OfficePid(const std::string& log) {
    size_t at = log.find(" owned=true ");
    size_t start = log.rfind("pid=", at);
    if (at == std::string::npos || start == std::string::npos) return 0;
    return static_cast<pid_t>(std::atol(log.c_str() + start + 4));
}


}  // namespace parlux::testing
