// Device arrivals and removals on Windows: a hidden window on the monitor's thread, subscribed to
// the device-interface notices of USB devices, disks and HID devices. When the root names a
// directory (the software key's virtual bus), its changes are turned into the same events.
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <cstring>
#include <system_error>

#include "kit/wide_text.h"
#include "platform/device_monitor.h"

namespace platform {
namespace {

const wchar_t kClassName[] = L"UkeyListen Window Class";
const DWORD kReadyWaitMs = 5000;

// USB devices, disks, HID devices.
const GUID kInterfaceClasses[] = {
    {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
};

}  // namespace

struct DeviceWindow {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_DEVICECHANGE) return DefWindowProcW(window, message, wParam, lParam);
        auto* monitor = reinterpret_cast<DeviceMonitor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (monitor && header &&
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
            header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
            monitor->m_handler(kit::NarrowToUtf8(device->dbcc_name), wParam == DBT_DEVICEARRIVAL
                                                                         ? DeviceEvent::Arrival
                                                                         : DeviceEvent::Removal);
        }
        return 0;
    }
};

bool DeviceMonitor::Start(const std::string& root) {
    if (m_thread.joinable()) return true;
    m_root = root;
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_readyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_stopEvent || !m_readyEvent) {
        Stop();
        return false;
    }
    if (!root.empty())
        for (const UsbDevice& d : EnumerateUsbDevices(m_root)) m_known[d.entry] = d;
    try {
        m_thread = std::thread(&DeviceMonitor::RunWindow, this);
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    // Subscribed before Start returns, so a key plugged in right after the caller has listed the
    // devices is still announced. Bounded: a caller holding the loader lock delays the thread.
    WaitForSingleObject(m_readyEvent, kReadyWaitMs);
    return true;
}

void DeviceMonitor::Stop() {
    if (m_thread.joinable()) {
        SetEvent(m_stopEvent);
        m_thread.join();
    }
    if (m_stopEvent) CloseHandle(m_stopEvent);
    if (m_readyEvent) CloseHandle(m_readyEvent);
    m_stopEvent = m_readyEvent = nullptr;
}

bool DeviceMonitor::WaitForWindow() {
    if (!m_readyEvent) return false;
    WaitForSingleObject(m_readyEvent, INFINITE);
    return m_window != nullptr;
}

// Compares the directory with the devices known: removals first, then arrivals.
void DeviceMonitor::Rescan() {
    std::map<std::string, UsbDevice> now;
    for (const UsbDevice& d : EnumerateUsbDirectory(m_root)) now[d.entry] = d;
    std::vector<std::string> gone;
    for (const auto& known : m_known)
        if (!now.count(known.first)) gone.push_back(known.first);
    for (const std::string& entry : gone) Removed(entry);
    for (const auto& present : now)
        if (!m_known.count(present.first)) Arrived(present.first);
}

void DeviceMonitor::RunWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &DeviceWindow::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    // A second monitor in the process finds the class registered already.
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        SetEvent(m_readyEvent);
        return;
    }
    // A message-only window: never shown, and it needs no desktop.
    HWND window =
        CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window) {
        SetEvent(m_readyEvent);
        return;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    for (const GUID& interfaceClass : kInterfaceClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    m_window = window;
    SetEvent(m_readyEvent);

    HANDLE change = INVALID_HANDLE_VALUE;
    for (;;) {
        if (!m_root.empty() && change == INVALID_HANDLE_VALUE) {
            // The directory may appear later (a store not yet prepared); look again shortly.
            change = FindFirstChangeNotificationW(kit::WidenUtf8(m_root).c_str(), FALSE,
                                                  FILE_NOTIFY_CHANGE_DIR_NAME);
            if (change != INVALID_HANDLE_VALUE) Rescan();
        }
        HANDLE handles[2] = {m_stopEvent, change};
        DWORD count = change == INVALID_HANDLE_VALUE ? 1 : 2;
        DWORD timeout = (!m_root.empty() && change == INVALID_HANDLE_VALUE) ? 200 : INFINITE;
        DWORD woke = MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
        if (count == 2 && woke == WAIT_OBJECT_0 + 1) {
            // Watching again before looking: a change made while the directory is read signals
            // anew instead of being lost (wine drops changes made before the next request).
            if (!FindNextChangeNotification(change)) {  // the directory itself went away
                FindCloseChangeNotification(change);
                change = INVALID_HANDLE_VALUE;
            }
            Rescan();
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
    m_window = nullptr;
    DestroyWindow(window);
}

}  // namespace platform
