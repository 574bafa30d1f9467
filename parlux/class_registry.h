// Which office back end serves a ProgID, and the image name of the process that serves it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace parlux {

constexpr int32_t kRegdbClassNotRegistered = static_cast<int32_t>(0x80040154);

struct ClassEntry {
    std::string backend;    // "libreoffice", "fake", ...
    std::string imageName;  // "soffice.bin", ...
};

class ClassRegistry {
public:
    // PARLUX_CLASSES, else /etc/parlux/classes.conf; without either file, the built-in defaults
    // (the Microsoft ProgIDs served by LibreOffice when it is installed). An empty file
    // registers nothing.
    static ClassRegistry Load();
    // Lines "ProgID = backend image", "#" comments; malformed lines are ignored.
    static ClassRegistry FromText(const std::string& text);

    // 0 and the entry, or REGDB_E_CLASSNOTREG (as CLSIDFromProgID answers).
    int32_t Resolve(const std::string& progId, ClassEntry& entry) const;

private:
    std::map<std::string, ClassEntry> m_classes;
};

}  // namespace parlux
