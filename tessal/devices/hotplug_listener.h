// Keeps the key set in step with keys being plugged in and pulled out.
#pragma once

#include <memory>
#include <string>

#include "platform/device_monitor.h"

// Device-change events, as the notices name them.
constexpr unsigned int DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned int DBT_DEVICEREMOVECOMPLETE = 0x8004;

class UkeyListenerWindow {
public:
    UkeyListenerWindow();
    ~UkeyListenerWindow();

    // Starts the listener thread on the USB device directory.
    void Start();
    // Stops the thread (at process exit, before the key set goes away).
    void Stop();

    // Handles one arrival or removal notice for a device-interface path.
    static void UpdateDevice(const std::string& interfacePath, unsigned int event);

    const char* m_className;

private:
    std::unique_ptr<platform::DeviceMonitor> m_monitor;
};
