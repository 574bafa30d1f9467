// The Windows back end of the platform layer: code pages, device notices on the hidden window,
// the virtual bus directory, module loading and program paths.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kit/code_page.h"
#include "kit/wide_text.h"
#include "platform/device_monitor.h"
#include "platform/module_loader.h"
#include "platform/program_paths.h"
#include "platform/usb_enumeration.h"

namespace {

TEST(WindowsCodePage, ConvertsBetweenUtf8AndGbk) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 ok";  // two Chinese characters
    const std::string gbk = "\xD6\xD0\xCE\xC4 ok";
    EXPECT_EQ(kit::ConvertCodePage(utf8, "UTF-8", "GBK", "?"), gbk);
    EXPECT_EQ(kit::ConvertCodePage(gbk, "GBK", "UTF-8", "?"), utf8);
    std::string out = "unchanged";
    EXPECT_TRUE(kit::ConvertCodePageExactly(gbk, "CP936", "UTF-8", out));
    EXPECT_EQ(out, utf8);
}

TEST(WindowsCodePage, ReplacesOrRefusesWhatCannotBeConverted) {
    // An emoji has no GBK form; 0xFF is no UTF-8 at all.
    const std::string emoji =
        "a\xF0\x9F\x98\x80"
        "b";
    EXPECT_EQ(kit::ConvertCodePage(emoji, "UTF-8", "GBK", "?"), "a?b");
    EXPECT_EQ(kit::ConvertCodePage("x\xFFy", "UTF-8", "GBK", "?"), "x?y");
    std::string out = "unchanged";
    EXPECT_FALSE(kit::ConvertCodePageExactly(emoji, "UTF-8", "GBK", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_FALSE(kit::ConvertCodePageExactly("x", "UTF-8", "NO-SUCH-PAGE", out));
}

TEST(WindowsCodePage, DefaultsToTheActiveAnsiCodePage) {
    _putenv("TESSAL_ANSI_CODEPAGE=");
    EXPECT_EQ(kit::AnsiCodePage(), "ACP");
    EXPECT_EQ(kit::ConvertCodePage("plain", kit::AnsiCodePage(), "UTF-8", "?"), "plain");
}

// Collects the monitor's events for the test thread.
class EventLog {
public:
    void Add(const std::string& path, platform::DeviceEvent event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.emplace_back(path, event);
        m_changed.notify_all();
    }
    // The events once there are `count` of them (or what came within a generous wait).
    std::vector<std::pair<std::string, platform::DeviceEvent>> WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20),
                           [&] { return m_events.size() >= count; });
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, platform::DeviceEvent>> m_events;
};

// A device-interface notice as Windows sends it: the record with the name after it.
LRESULT SendInterfaceNotice(HWND window, WPARAM event, DWORD deviceType, const std::wstring& name) {
    std::vector<char> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) +
                             name.size() * sizeof(wchar_t));
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    record->dbcc_size = static_cast<DWORD>(buffer.size());
    record->dbcc_devicetype = deviceType;
    std::copy(name.begin(), name.end(), record->dbcc_name);
    record->dbcc_name[name.size()] = L'\0';
    return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
}

TEST(WindowsDeviceMonitor, DecodesArrivalAndRemovalNotices) {
    EventLog log;
    platform::DeviceMonitor monitor(
        [&](const std::string& path, platform::DeviceEvent event) { log.Add(path, event); });
    ASSERT_TRUE(monitor.Start(""));
    // Subscribed once Start returns: nothing plugged in after it is missed.
    ASSERT_NE(monitor.Window(), nullptr);
    HWND window = static_cast<HWND>(monitor.Window());
    const std::wstring path =
        L"\\\\?\\USB#VID_1EA8&PID_C004#SN\x4E2D#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    EXPECT_EQ(SendInterfaceNotice(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, path), 0);
    // Neither another kind of record nor another event is a key coming or going.
    SendInterfaceNotice(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, L"X");
    SendInterfaceNotice(window, DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE, path);
    SendInterfaceNotice(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, path);
    monitor.Stop();
    auto events = log.WaitFor(2);
    ASSERT_EQ(events.size(), 2u);
    const std::string utf8 =
        "\\\\?\\USB#VID_1EA8&PID_C004#SN\xE4\xB8\xAD#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    EXPECT_EQ(events[0], std::make_pair(utf8, platform::DeviceEvent::Arrival));
    EXPECT_EQ(events[1], std::make_pair(utf8, platform::DeviceEvent::Removal));
}

std::string TempDirectory(const char* name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::string dir = kit::NarrowToUtf8(base) + name + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(kit::WidenUtf8(dir).c_str(), nullptr);
    return dir;
}

void WriteLine(const std::string& path, const std::string& text) {
    std::ofstream(path) << text << "\n";
}

TEST(WindowsDeviceMonitor, TurnsVirtualBusChangesIntoEvents) {
    std::string bus = TempDirectory("tessal-bus-");
    EventLog log;
    platform::DeviceMonitor monitor(
        [&](const std::string& path, platform::DeviceEvent event) { log.Add(path, event); });
    ASSERT_TRUE(monitor.Start(bus));
    ASSERT_TRUE(monitor.WaitForWindow());
    // Made aside and renamed into place, as the software key plugs a key.
    std::string staging = bus + "/.plug-1";
    CreateDirectoryW(kit::WidenUtf8(staging).c_str(), nullptr);
    WriteLine(staging + "/idVendor", "1ea8");
    WriteLine(staging + "/idProduct", "c004");
    WriteLine(staging + "/serial", "WIN0001");
    ASSERT_TRUE(
        MoveFileW(kit::WidenUtf8(staging).c_str(), kit::WidenUtf8(bus + "/sk-WIN0001").c_str()));
    auto events = log.WaitFor(1);
    ASSERT_EQ(events.size(), 1u);
    const std::string path =
        "\\\\?\\USB#VID_1EA8&PID_C004#WIN0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    EXPECT_EQ(events[0], std::make_pair(path, platform::DeviceEvent::Arrival));

    // Renamed away and then removed, as the software key unplugs a key: the listener may still
    // be reading the entry's files, and a file open on Windows cannot be deleted, so removing
    // the entry in place fails now and then.
    const std::string leaving = bus + "/.unplug-1";
    ASSERT_TRUE(
        MoveFileW(kit::WidenUtf8(bus + "/sk-WIN0001").c_str(), kit::WidenUtf8(leaving).c_str()));
    events = log.WaitFor(2);
    for (const char* file : {"idVendor", "idProduct", "serial"})
        DeleteFileW(kit::WidenUtf8(leaving + "/" + file).c_str());
    RemoveDirectoryW(kit::WidenUtf8(leaving).c_str());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], std::make_pair(path, platform::DeviceEvent::Removal));
    monitor.Stop();
    RemoveDirectoryW(kit::WidenUtf8(bus).c_str());
}

TEST(WindowsDevices, EnumeratesTheVirtualBusDirectory) {
    std::string bus = TempDirectory("tessal-enum-");
    CreateDirectoryW(kit::WidenUtf8(bus + "/sk-A").c_str(), nullptr);
    WriteLine(bus + "/sk-A/idVendor", "055c");
    WriteLine(bus + "/sk-A/idProduct", "e631");
    WriteLine(bus + "/sk-A/bcdDevice", "0100");
    auto devices = platform::EnumerateUsbDevices(bus);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].hardwareId, "USB\\VID_055C&PID_E631&REV_0100");
    EXPECT_FALSE(platform::IsRealSysfs(bus));
    EXPECT_TRUE(platform::IsRealSysfs(""));
    for (const char* file : {"idVendor", "idProduct", "bcdDevice"})
        DeleteFileW(kit::WidenUtf8(bus + "/sk-A/" + file).c_str());
    RemoveDirectoryW(kit::WidenUtf8(bus + "/sk-A").c_str());
    RemoveDirectoryW(kit::WidenUtf8(bus).c_str());
}

TEST(WindowsModules, LoadsALibraryFromItsFamilyDirectory) {
    // The test program's own directory holds the kit's DLLs; one is copied under a family name.
    std::string family = TempDirectory("tessal-family-");
    std::string source = platform::ProgramDirectory() + "\\vornic.dll";
    ASSERT_TRUE(CopyFileW(kit::WidenUtf8(source).c_str(),
                          kit::WidenUtf8(family + "\\Vendor.dll").c_str(), FALSE));
    void* module = platform::LoadModule(family + "/Vendor.dll");
    ASSERT_NE(module, nullptr) << platform::LastModuleError();
    EXPECT_EQ(platform::LastModuleError(), "");
#if defined(_WIN64)
    EXPECT_NE(platform::ModuleSymbol(module, "SM2ConstructP10Info"), nullptr);
#else
    EXPECT_NE(platform::ModuleSymbol(module, "_SM2ConstructP10Info@20"), nullptr);
#endif
    EXPECT_EQ(platform::ModuleSymbol(module, "NoSuchFunction"), nullptr);
    platform::UnloadModule(module);

    EXPECT_EQ(platform::LoadModule(family + "/Missing.dll"), nullptr);
    EXPECT_NE(platform::LastModuleError(), "");
    DeleteFileW(kit::WidenUtf8(family + "\\Vendor.dll").c_str());
    RemoveDirectoryW(kit::WidenUtf8(family).c_str());
}

TEST(WindowsPaths, ProgramDirectoryAndLogFile) {
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring whole(exe, n);
    EXPECT_EQ(platform::ProgramDirectory(),
              kit::NarrowToUtf8(whole.substr(0, whole.find_last_of(L"\\/"))));
    _putenv("TESSAL_DRIVER_DIR=C:/drivers//");
    EXPECT_EQ(platform::DriverDirectories(), std::vector<std::string>{"C:/drivers"});
    _putenv("TESSAL_DRIVER_DIR=");
    const std::vector<std::string> dirs = platform::DriverDirectories();
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], platform::ProgramDirectory());
    EXPECT_EQ(dirs[1], platform::JoinPath(platform::ProgramDirectory(), "tessal/drivers"));
    _putenv("TESSAL_LOG_FILE=");
    EXPECT_EQ(platform::LogFilePath(), "C:/ZYK/ZYKUKeyDriver.log");
}

}  // namespace
