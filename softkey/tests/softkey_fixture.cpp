#include "softkey_fixture.h"

#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>

#include "kit/wide_text.h"
#else
#include <dlfcn.h>
#endif

#include "core/fs_util.h"
#include "core/vbus.h"
#include "platform/files.h"

namespace softkey_test {

namespace {

// The library under test: on Windows named by its file name, beside the test program.
std::string LibraryFile() {
#if defined(_WIN32)
    std::string program = softkey::platform::ProgramFile();
    return program.substr(0, program.find_last_of('/') + 1) + SOFTKEY_LIBRARY;
#else
    return SOFTKEY_LIBRARY;
#endif
}

// A new private directory for one test.
std::string MakeTestDirectory() {
#if defined(_WIN32)
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    std::string dir = kit::NarrowToUtf8(temp) + "softkey-test-" + std::to_string(GetCurrentProcessId()) +
                      "-" + std::to_string(++counter);
    for (char& c : dir)
        if (c == '\\') c = '/';
    return CreateDirectoryW(kit::WidenUtf8(dir).c_str(), nullptr) ? dir : std::string();
#else
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/softkey-test-XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
#endif
}

}  // namespace

SkfLibrary::SkfLibrary(const std::string& dir, const std::string& name) {
    std::string library;
    if (!softkey::ReadWholeFile(LibraryFile(), library))
        throw std::runtime_error("cannot read " + LibraryFile());
    softkey::WriteFileAtomic(dir + "/" + name, library, 0755);
#if defined(_WIN32)
    m_handle = LoadLibraryW(kit::WidenUtf8(dir + "/" + name).c_str());
    if (!m_handle) throw std::runtime_error("cannot load " + name + ": error " + std::to_string(GetLastError()));
#else
    m_handle = dlopen((dir + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) throw std::runtime_error(dlerror());
#endif
}

SkfLibrary::~SkfLibrary() {
#if defined(_WIN32)
    if (m_handle) FreeLibrary(static_cast<HMODULE>(m_handle));
#else
    if (m_handle) dlclose(m_handle);
#endif
}

void* SkfLibrary::Symbol(const char* name) {
#if defined(_WIN32)
    void* p = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
#else
    void* p = dlsym(m_handle, name);
#endif
    if (!p) throw std::runtime_error(std::string("missing ") + name);
    return p;
}

void SoftkeyTest::SetUp() {
    m_dir = MakeTestDirectory();
    ASSERT_FALSE(m_dir.empty());
    softkey::MakeDirs(m_dir + "/drivers");
#if defined(_WIN32)
    _putenv_s("SOFTKEY_STORE", (m_dir + "/store").c_str());
#else
    setenv("SOFTKEY_STORE", (m_dir + "/store").c_str(), 1);
#endif
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
