// A test rig of software keys: a private store and virtual USB bus, softkey copies installed
// under catalogue library names, and the library pointed at them.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cert_factory.h"

class KeyRigTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the softkey tool on the rig's store; fails the test when it fails.
    void Softkey(const std::string& args);
    // Installs the software key library (or the build of it at `from`) as `libName` in its
    // family directory.
    void InstallDriver(const std::string& libName, const std::string& from = SOFTKEY_LIBRARY);
    // Creates and plugs a key with the VID&PID of `vpid` ("1EA8&C109").
    void AddKey(const std::string& serial, const std::string& vpid, const std::string& extra = "");
    // The public key of a container's key pair (usage "sign" or "enc"); the caller frees it.
    EVP_PKEY* ContainerPublicKey(const std::string& serial, const std::string& container, const char* usage = "sign");
    // Issues a certificate by `spec` for the container's signing key, signed with `caKey`, and
    // stores it on the key as its `usage` certificate. Returns the certificate's Base64.
    std::string IssueOnKey(const std::string& serial, const std::string& container, const test_support::CertSpec& spec,
                           EVP_PKEY* caKey, const char* usage = "sign");
    // Handles the software key installed as `libName` has open in this process (kind 1 devices,
    // 2 applications, 3 containers, 4 hash handles); -1 when the library is not loaded.
    long OpenHandles(const std::string& libName, unsigned kind) const;
    std::string LogText() const;
    size_t LogCount(const std::string& text) const;

    std::string m_dir;
};

// Collects the events of the hot-plug callback and waits for them.
class CallbackRecorder {
public:
    void Record(int event, const std::string& id);
    // Waits (bounded) until `count` events have arrived; false when they did not.
    bool WaitFor(size_t count);
    std::vector<std::pair<int, std::string>> Events();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::pair<int, std::string>> m_events;
};

// A key rig with "SKF_APP.dll" installed and the host's callback recording into m_events (which
// also starts the key manager and its listener).
class HotplugRigTest : public KeyRigTest {
protected:
    void SetUp() override;
    CallbackRecorder m_events;
};
