// The USB devices present, read from a sysfs-shaped directory.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct UsbDevice {
    std::string entry;       // directory name below the root, e.g. "1-1.2"
    std::string hardwareId;  // "USB\VID_%04X&PID_%04X&REV_%04X"
    unsigned vid = 0, pid = 0, rev = 0;
    std::string serial;  // empty when the device reports none
};

// ${TESSAL_USB_SYSFS:-/sys/bus/usb/devices}; on Windows TESSAL_USB_SYSFS or empty, empty
// meaning the system's devices (SetupAPI).
std::string UsbSysfsRoot();
// True for the system's own devices (not a directory standing in for them).
bool IsRealSysfs(const std::string& root);

// The devices present under `root`: on Windows the system's when `root` is empty.
std::vector<UsbDevice> EnumerateUsbDevices(const std::string& root);
// Every entry of a sysfs-shaped directory with idVendor and idProduct, in entry-name order.
std::vector<UsbDevice> EnumerateUsbDirectory(const std::string& root);
// One entry, when it is a device.
bool ReadUsbDevice(const std::string& root, const std::string& entry, UsbDevice& out);

// The device-interface path a device-change notice carries for the device:
// "\\?\USB#VID_xxxx&PID_xxxx#<serial>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}".
std::string InterfacePath(const UsbDevice& device);

}  // namespace platform
