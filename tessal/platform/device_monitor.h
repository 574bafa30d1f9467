// Watches a USB device directory for arrivals and removals, on a thread of its own.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/usb_enumeration.h"

namespace platform {

enum class DeviceEvent { Arrival, Removal };

// Receives the device-interface path of each device that came or went.
using DeviceEventHandler = std::function<void(const std::string& interfacePath, DeviceEvent event)>;

class DeviceMonitor {
public:
    explicit DeviceMonitor(DeviceEventHandler handler);
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Starts watching `root`: libudev on the real sysfs, inotify on any other directory; on
    // Windows a hidden window's device notifications, plus change notices on `root` when it
    // names a directory. Returns false when the thread could not be started.
    bool Start(const std::string& root);
    // Stops the thread and waits for it; events being handled finish first.
    void Stop();

#if defined(_WIN32)
    // The hidden window receiving WM_DEVICECHANGE (an HWND); null until the thread made it.
    void* Window() const { return m_window; }
    // Waits until the thread has made its window or given up; false when there is none.
    bool WaitForWindow();
#endif

private:
#if defined(_WIN32)
    friend struct DeviceWindow;  // the window procedure
    void RunWindow();
    void Rescan();
#else
    void RunInotify();
    void RunUdev();
#endif
    void Arrived(const std::string& entry);
    void Removed(const std::string& entry);

    DeviceEventHandler m_handler;
    std::string m_root;
    std::map<std::string, UsbDevice> m_known;  // entry -> device, to name a removed device
    std::thread m_thread;
#if defined(_WIN32)
    void* m_stopEvent = nullptr;   // set by Stop
    void* m_readyEvent = nullptr;  // set once the window exists or could not be made
    void* m_window = nullptr;
#else
    int m_stopFd = -1;
#endif
};

}  // namespace platform
