// The USB devices on Windows: SetupAPI's devices of the enumerator "USB", or, when
// TESSAL_USB_SYSFS names one, a sysfs-shaped directory (the software key's virtual bus).
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "kit/wide_text.h"
#include "platform/usb_enumeration.h"

namespace platform {
namespace {

// The four hexadecimal digits after `key` ("VID_", "PID_", "REV_") in upper-case `text`.
bool HexAfter(const std::string& text, const char* key, unsigned& out) {
    size_t at = text.find(key);
    if (at == std::string::npos || at + std::strlen(key) + 4 > text.size()) return false;
    std::string digits = text.substr(at + std::strlen(key), 4);
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    out = static_cast<unsigned>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// One device of the list: its first hardware id and its instance id ("USB\VID_..&PID_..\SERIAL").
bool ReadDevice(HDEVINFO set, SP_DEVINFO_DATA& info, UsbDevice& out) {
    wchar_t ids[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids),
                                           sizeof ids - sizeof(wchar_t), nullptr))
        return false;
    wchar_t instance[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &info, instance, 511, nullptr)) return false;
    UsbDevice d;
    d.hardwareId = Upper(kit::NarrowToUtf8(ids));  // the first string of the multi-string
    d.entry = kit::NarrowToUtf8(instance);
    if (!HexAfter(d.hardwareId, "VID_", d.vid) || !HexAfter(d.hardwareId, "PID_", d.pid))
        return false;
    HexAfter(d.hardwareId, "REV_", d.rev);
    size_t slash = d.entry.rfind('\\');
    if (slash != std::string::npos) d.serial = d.entry.substr(slash + 1);
    out = d;
    return true;
}

std::vector<UsbDevice> EnumerateSetupApi() {
    std::vector<UsbDevice> devices;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA info;
    info.cbSize = sizeof info;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        UsbDevice d;
        if (ReadDevice(set, info, d)) devices.push_back(d);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

}  // namespace

std::string UsbSysfsRoot() {
    const char* env = std::getenv("TESSAL_USB_SYSFS");
    return env && *env ? env : "";
}

bool IsRealSysfs(const std::string& root) { return root.empty(); }

std::vector<UsbDevice> EnumerateUsbDevices(const std::string& root) {
    return root.empty() ? EnumerateSetupApi() : EnumerateUsbDirectory(root);
}

}  // namespace platform
