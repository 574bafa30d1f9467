#include "platform/usb_enumeration.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

bool ReadLine(const std::string& path, std::string& out) {
    std::ifstream in(path);
    if (!in || !std::getline(in, out)) return false;
    while (!out.empty() && (out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return true;
}

bool ReadHex(const std::string& path, unsigned& out) {
    std::string text;
    if (!ReadLine(path, text) || text.empty()) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0' || v > 0xFFFF) return false;
    out = static_cast<unsigned>(v);
    return true;
}

}  // namespace

bool ReadUsbDevice(const std::string& root, const std::string& entry, UsbDevice& out) {
    std::string dir = root + "/" + entry;
    UsbDevice d;
    d.entry = entry;
    if (!ReadHex(dir + "/idVendor", d.vid) || !ReadHex(dir + "/idProduct", d.pid)) return false;
    ReadHex(dir + "/bcdDevice", d.rev);
    ReadLine(dir + "/serial", d.serial);
    char id[64];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X&REV_%04X", d.vid, d.pid, d.rev);
    d.hardwareId = id;
    out = d;
    return true;
}

std::vector<UsbDevice> EnumerateUsbDirectory(const std::string& root) {
    std::vector<std::string> entries;
    if (DIR* dir = opendir(root.c_str())) {
        while (struct dirent* e = readdir(dir))
            if (e->d_name[0] != '.') entries.emplace_back(e->d_name);
        closedir(dir);
    }
    std::sort(entries.begin(), entries.end());
    std::vector<UsbDevice> devices;
    for (const std::string& entry : entries) {
        UsbDevice d;
        if (ReadUsbDevice(root, entry, d)) devices.push_back(d);
    }
    return devices;
}

std::string InterfacePath(const UsbDevice& device) {
    char head[48];
    std::snprintf(head, sizeof head, "\\\\?\\USB#VID_%04X&PID_%04X#", device.vid, device.pid);
    return head + (device.serial.empty() ? device.entry : device.serial) +
           "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

}  // namespace platform
