// Writes the udev rules that open every key of the device catalogue to the logged-in user.
//   udev_rules_generator OUTPUT
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "devices/device_catalogue.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: udev_rules_generator OUTPUT\n");
        return 2;
    }
    const std::string output = argv[1];
    const std::string temporary = output + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# USB security keys of the tessal device catalogue: the logged-in user may open them\n"
               "# (the USB device, and its hidraw node where the key is a HID device).\n"
               "# Generated at build time from the catalogue; do not edit.\n";
        for (const auto& row : g_VpidLibMap) {
            const std::string& vpid = row.first;  // "1EA8&C109"
            size_t amp = vpid.find('&');
            if (amp != 4 || vpid.size() != 9) {
                std::fprintf(stderr, "udev_rules_generator: bad catalogue VID&PID \"%s\"\n", vpid.c_str());
                std::remove(temporary.c_str());
                return 1;
            }
            std::string vid = Lower(vpid.substr(0, 4)), pid = Lower(vpid.substr(5));
            out << "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" << vid
                << "\", ATTR{idProduct}==\"" << pid << "\", TAG+=\"uaccess\"\n"
                << "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" << vid << "\", ATTRS{idProduct}==\"" << pid
                << "\", TAG+=\"uaccess\"\n";
        }
        out.flush();
        if (!out) {
            std::fprintf(stderr, "udev_rules_generator: cannot write %s\n", temporary.c_str());
            std::remove(temporary.c_str());
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "udev_rules_generator: cannot write %s\n", output.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
