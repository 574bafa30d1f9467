#include "softkey_fixture.h"

#include <stdlib.h>

#include "core/fs_util.h"
#include "core/vbus.h"

namespace softkey_test {

SkfLibrary::SkfLibrary(const std::string& dir, const std::string& name) {
    std::string library;
    if (!softkey::ReadWholeFile(SOFTKEY_LIBRARY, library)) throw std::runtime_error("cannot read libsoftkey.so");
    softkey::WriteFileAtomic(dir + "/" + name, library, 0755);
    m_handle = dlopen((dir + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) throw std::runtime_error(dlerror());
}

SkfLibrary::~SkfLibrary() {
    if (m_handle) dlclose(m_handle);
}

void SoftkeyTest::SetUp() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/softkey-test-XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    m_dir = pattern;
    softkey::MakeDirs(m_dir + "/drivers");
    setenv("SOFTKEY_STORE", (m_dir + "/store").c_str(), 1);
    m_store = new softkey::Store(m_dir + "/store");
}

void SoftkeyTest::TearDown() {
    m_libs.clear();
    delete m_store;
    softkey::RemoveTree(m_dir);
}

void SoftkeyTest::AddKey(const std::string& serial, bool plugged, const std::vector<std::string>& drivers) {
    softkey::Token t;
    t.serial = serial;
    t.vid = 0x096E;
    t.pid = 0x0309;
    t.label = "test " + serial;
    t.drivers = drivers;
    softkey::Application app;
    app.name = "DEFAULT_APP";
    app.userPin = softkey::MakePin("12345678", 6);
    app.adminPin = softkey::MakePin("70315926", 6);
    t.apps.push_back(app);
    m_store->Save(t);
    if (plugged) PlugKey(serial);
}

void SoftkeyTest::PlugKey(const std::string& serial) { softkey::Plug(*m_store, m_store->Load(serial)); }

void SoftkeyTest::UnplugKey(const std::string& serial) { softkey::Unplug(*m_store, serial); }

SkfLibrary& SoftkeyTest::Lib(const std::string& name) {
    auto& slot = m_libs[name];
    if (!slot) slot.reset(new SkfLibrary(m_dir + "/drivers", name));
    return *slot;
}

void SoftkeyTest::OpenLoggedIn(SkfLibrary& lib, const std::string& serial, DEVHANDLE& dev, HAPPLICATION& app) {
    ASSERT_EQ(SKF(lib, SKF_ConnectDev)(const_cast<char*>(serial.c_str()), &dev), SAR_OK);
    ASSERT_EQ(SKF(lib, SKF_OpenApplication)(dev, const_cast<char*>("DEFAULT_APP"), &app), SAR_OK);
    ULONG retry = 0;
    ASSERT_EQ(SKF(lib, SKF_VerifyPIN)(app, USER_TYPE, const_cast<char*>("12345678"), &retry), SAR_OK);
}

softkey::Pkey EccKey(const ECCPUBLICKEYBLOB& blob) {
    return softkey::Sm2PublicFromPoint(blob.XCoordinate + 32, blob.YCoordinate + 32);
}

}  // namespace softkey_test
