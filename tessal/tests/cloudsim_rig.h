// Starts the cloud simulator on loopback for one test and stops it afterwards.
#pragma once

#include <sys/types.h>

#include <string>

namespace test_support {

class CloudSim {
public:
    // Starts cloudsim with its state in `stateDir` and points the library at it
    // (TESSAL_CONNECT_TO, TESSAL_CA_FILE).
    explicit CloudSim(const std::string& stateDir);
    ~CloudSim();
    CloudSim(const CloudSim&) = delete;
    CloudSim& operator=(const CloudSim&) = delete;

    int Port() const { return m_port; }
    std::string CaFile() const { return m_state + "/ca.pem"; }
    std::string TsaCertFile() const { return m_state + "/tsa.pem"; }
    // "https://127.0.0.1:PORT" + path.
    std::string Url(const std::string& path) const;
    // Makes the next `count` service requests answer "garbage", "reject", "hang" or "normal".
    void Control(const std::string& mode, int count = 1);
    // Makes the next `count` issuance answers misbehave: "refuse", "lowercase", "nested",
    // "broken", "noenckey", "junkcert", or "normal".
    void ControlIssuance(const std::string& mode, int count = 1);
    // The path the last service request reached.
    std::string LastServicePath();
    // The body of the last service request.
    std::string LastBody();
    // The request target (path and query) of the last service request.
    std::string LastTarget();
    void Stop();

private:
    void PostControl(const std::string& query);
    std::string GetLast(const std::string& query);

    std::string m_state;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace test_support
