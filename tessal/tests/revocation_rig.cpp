#include "revocation_rig.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "api/encodings.h"
#include "cert_factory.h"
#include "test_support.h"

namespace test_support {

void RunPki(const std::string& arguments) {
    std::string command = std::string(REVOCATION_PKI_SCRIPT) + " " + arguments;
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string CertBase64(const std::string& pemFile) {
    X509* cert = LoadPemCert(pemFile);
    std::string text = Base64Encode(Der(cert));
    X509_free(cert);
    return text;
}

std::string IndexLine(char status, const std::string& serialHex) {
    std::string revoked = status == 'R' ? "260101000000Z" : "";
    return std::string(1, status) + "\t491231235959Z\t" + revoked + "\t" + serialHex + "\tunknown\t/CN=leaf " +
           serialHex + "\n";
}

TestCa::TestCa(const std::string& algorithm) : m_algorithm(algorithm), m_dir(MakeTempDir("ca-")) {
    RunPki("ca " + m_dir + " " + algorithm + " 'Test " + algorithm + " CA'");
}

std::string TestCa::Leaf(const std::string& serialHex, const std::vector<std::string>& extensions) const {
    std::string arguments = "leaf " + m_dir + " " + serialHex + " " + File("leaf-" + serialHex + ".pem");
    for (const std::string& line : extensions) arguments += " '" + line + "'";
    RunPki(arguments);
    return test_support::CertBase64(File("leaf-" + serialHex + ".pem"));
}

std::string TestCa::Crl(const std::string& name, const std::string& indexLines,
                        const std::string& signer, const std::string& options,
                        const std::vector<std::string>& extensions) const {
    WriteText(File(name + ".index"), indexLines);
    std::string extensionText;
    for (const std::string& line : extensions) extensionText += line + "\n";
    if (extensions.empty())
        std::remove(File(name + ".ext").c_str());
    else
        WriteText(File(name + ".ext"), extensionText);
    RunPki("crl " + m_dir + " " + File(name + ".index") + " " + File(name) + " " + signer + " " +
           options);
    return ReadFile(File(name));
}

OcspResponderProcess::OcspResponderProcess(const std::string& index, const std::string& caFile,
                                           const std::string& signer, bool sm2) {
    std::string output = MakeTempDir("ocsp-responder-") + "/stdout";
    std::vector<std::string> args = {"openssl", "ocsp",          "-index",      index,      "-port",
                                     "0",       "-CA",           caFile,        "-rsigner", signer + ".pem",
                                     "-rkey",   signer + ".key", "-ignore_err", "-rmd",     sm2 ? "sm3" : "sha256"};
    if (sm2) args.insert(args.end(), {"-rsigopt", "distid:1234567812345678"});
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        if (!freopen(output.c_str(), "w", stdout)) _exit(127);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp("openssl", argv.data());
        _exit(127);
    }
    // It prints "ACCEPT [::]:PORT PID=..." once it listens.
    for (int i = 0; i < 200 && m_port == 0; ++i) {
        std::string text = ReadFile(output);
        size_t at = text.find("]:");
        if (at != std::string::npos && text.find(' ', at) != std::string::npos)
            m_port = std::atoi(text.c_str() + at + 2);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (m_port == 0) {
        Stop();
        throw std::runtime_error("openssl ocsp did not start");
    }
}

OcspResponderProcess::~OcspResponderProcess() { Stop(); }

void OcspResponderProcess::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string OcspResponderProcess::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

}  // namespace test_support
