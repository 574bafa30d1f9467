// The USB devices on Linux: sysfs, or a directory shaped like it (the software key's bus).
#include <cstdlib>

#include "platform/usb_enumeration.h"

namespace platform {

std::string UsbSysfsRoot() {
    const char* env = std::getenv("TESSAL_USB_SYSFS");
    return env && *env ? env : "/sys/bus/usb/devices";
}

bool IsRealSysfs(const std::string& root) {
    return root == "/sys/bus/usb/devices" || root == "/sys/bus/usb/devices/";
}

std::vector<UsbDevice> EnumerateUsbDevices(const std::string& root) {
    return EnumerateUsbDirectory(root);
}

}  // namespace platform
