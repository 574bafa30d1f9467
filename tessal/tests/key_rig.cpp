#include "key_rig.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>

#include <openssl/pem.h>

#include "api/encodings.h"
#include "devices/device_catalogue.h"
#include "tessal/devices.h"
#include "test_support.h"

void KeyRigTest::SetUp() {
    m_dir = test_support::MakeTempDir("tessal-keys-");
    setenv("SOFTKEY_STORE", (m_dir + "/store").c_str(), 1);
    setenv("TESSAL_USB_SYSFS", (m_dir + "/store/sys/bus/usb/devices").c_str(), 1);
    setenv("TESSAL_DRIVER_DIR", (m_dir + "/drivers").c_str(), 1);
    setenv("TESSAL_LOG_FILE", (m_dir + "/tessal.log").c_str(), 1);
    setenv("TESSAL_SETTLE_MS", "0", 1);
    std::string prepare = "mkdir -p " + m_dir + "/store/sys/bus/usb/devices " + m_dir + "/drivers";
    ASSERT_EQ(system(prepare.c_str()), 0);
}

void KeyRigTest::TearDown() {
    // The key manager lives until the process ends; each test runs in a process of its own.
}

void KeyRigTest::Softkey(const std::string& args) {
    std::string command = std::string(SOFTKEY_CLI) + " " + args + " > /dev/null";
    ASSERT_EQ(system(command.c_str()), 0) << command;
}

void KeyRigTest::InstallDriver(const std::string& libName, const std::string& from) {
    std::string family = LibraryFamily(libName);
    Softkey("install-driver --root " + m_dir + "/drivers --name '" + libName + "'" +
            (family.empty() ? "" : " --family '" + family + "'") + " --from " + from);
}

void KeyRigTest::AddKey(const std::string& serial, const std::string& vpid, const std::string& extra) {
    Softkey("create --serial " + serial + " --vid " + vpid.substr(0, 4) + " --pid " + vpid.substr(5, 4) + " " + extra);
    Softkey("plug " + serial);
}

EVP_PKEY* KeyRigTest::ContainerPublicKey(const std::string& serial, const std::string& container, const char* usage) {
    std::string path = m_dir + "/" + serial + "." + container + "." + usage + ".pub.pem";
    Softkey("container pubkey " + serial + " " + container + " " + usage + " " + path);
    BIO* bio = BIO_new_file(path.c_str(), "r");
    EVP_PKEY* key = bio ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return key;
}

std::string KeyRigTest::IssueOnKey(const std::string& serial, const std::string& container,
                                   const test_support::CertSpec& spec, EVP_PKEY* caKey, const char* usage) {
    EVP_PKEY* pub = ContainerPublicKey(serial, container);
    X509* cert = test_support::MakeCertificate(spec, pub, caKey);
    std::string pem = m_dir + "/" + serial + "." + container + "." + usage + ".cert.pem";
    test_support::WriteText(pem, test_support::Pem(cert));
    Softkey("cert import " + serial + " " + container + " " + usage + " " + pem);
    std::string b64 = Base64Encode(test_support::Der(cert));
    X509_free(cert);
    EVP_PKEY_free(pub);
    return b64;
}

long KeyRigTest::OpenHandles(const std::string& libName, unsigned kind) const {
    std::string family = LibraryFamily(libName);
    std::string path = m_dir + "/drivers/" + (family.empty() ? "" : family + "/") + libName;
    // The very copy the library loaded: RTLD_NOLOAD finds it without loading another.
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!lib) return -1;
    using Count = uint32_t(uint32_t);
    auto* count = reinterpret_cast<Count*>(dlsym(lib, "SOFTKEY_CountOpenHandles"));
    long n = count ? static_cast<long>(count(kind)) : -1;
    dlclose(lib);
    return n;
}

std::string KeyRigTest::LogText() const { return test_support::ReadFile(m_dir + "/tessal.log"); }

size_t KeyRigTest::LogCount(const std::string& text) const {
    std::string log = LogText();
    size_t n = 0;
    for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1)) ++n;
    return n;
}

void CallbackRecorder::Record(int event, const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.emplace_back(event, id);
    m_cv.notify_all();
}

bool CallbackRecorder::WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return m_events.size() >= count; });
}

std::vector<std::pair<int, std::string>> CallbackRecorder::Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

void HotplugRigTest::SetUp() {
    KeyRigTest::SetUp();
    InstallDriver("SKF_APP.dll");
    std::function<void(int, const std::string&)> callback = [this](int event, const std::string& id) {
        m_events.Record(event, id);
    };
    ZYKRegister(callback);
}
