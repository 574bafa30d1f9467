#include "cloudsim_rig.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tessal/http.h"

namespace test_support {

CloudSim::CloudSim(const std::string& stateDir) : m_state(stateDir) {
    std::string portFile = m_state + ".port";
    unlink(portFile.c_str());
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        execl(CLOUDSIM_PROGRAM, CLOUDSIM_PROGRAM, "--state", m_state.c_str(), "--port", "0", "--port-file",
              portFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The first start makes the simulated CAs' keys, which takes long in sanitizer builds on a
    // busy machine: wait until the port is written or the simulator has ended, at most 2 minutes.
    for (int i = 0; i < 2400 && m_port == 0; ++i) {
        std::ifstream in(portFile);
        if (in >> m_port) break;
        m_port = 0;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("cloudsim ended before it listened (status " + std::to_string(status) + ")");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (m_port == 0) {
        Stop();
        throw std::runtime_error("cloudsim did not start within 2 minutes");
    }
    std::string connectTo = "::127.0.0.1:" + std::to_string(m_port);
    setenv("TESSAL_CONNECT_TO", connectTo.c_str(), 1);
    setenv("TESSAL_CA_FILE", CaFile().c_str(), 1);
}

CloudSim::~CloudSim() { Stop(); }

void CloudSim::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::string CloudSim::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

void CloudSim::Control(const std::string& mode, int count) {
    PostControl("mode=" + mode + "&count=" + std::to_string(count));
}

void CloudSim::ControlIssuance(const std::string& mode, int count) {
    PostControl("issuance=" + mode + "&count=" + std::to_string(count));
}

void CloudSim::PostControl(const std::string& query) {
    CHttp http;
    std::string response;
    if (http.Post(Url("/_control?" + query), {}, "", response) != 0 || response != "ok\n")
        throw std::runtime_error("cloudsim control failed: " + response);
}

std::string CloudSim::LastServicePath() { return GetLast(""); }
std::string CloudSim::LastBody() { return GetLast("?body"); }
std::string CloudSim::LastTarget() { return GetLast("?target"); }

std::string CloudSim::GetLast(const std::string& query) {
    CHttp http;
    std::string response;
    http.Get(Url("/_last" + query), {}, response);
    return response;
}

}  // namespace test_support
