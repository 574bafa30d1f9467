#include "class_registry.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace parlux {
namespace {

constexpr char kDefaultFile[] = "/etc/parlux/classes.conf";
constexpr char kLibreOfficeProgram[] = "/usr/lib/libreoffice/program/soffice.bin";

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

}  // namespace

ClassRegistry ClassRegistry::FromText(const std::string& text) {
    ClassRegistry registry;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string progId = Trim(line.substr(0, eq));
        std::istringstream rest(line.substr(eq + 1));
        ClassEntry entry;
        std::string extra;
        if (progId.empty() || !(rest >> entry.backend >> entry.imageName) || (rest >> extra)) continue;
        registry.m_classes[progId] = entry;
    }
    return registry;
}

ClassRegistry ClassRegistry::Load() {
    const char* named = std::getenv("PARLUX_CLASSES");
    std::string path = named && *named ? named : kDefaultFile;
    std::ifstream in(path);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        return FromText(text.str());
    }
    if (named && *named) return ClassRegistry();  // a named file that cannot be read registers nothing
    ClassRegistry defaults;
    if (access(kLibreOfficeProgram, X_OK) == 0) {
        defaults.m_classes["Word.Application"] = {"libreoffice", "soffice.bin"};
        defaults.m_classes["Excel.Application"] = {"libreoffice", "soffice.bin"};
    }
    return defaults;
}

int32_t ClassRegistry::Resolve(const std::string& progId, ClassEntry& entry) const {
    auto it = m_classes.find(progId);
    if (it == m_classes.end()) return kRegdbClassNotRegistered;
    entry = it->second;
    return 0;
}

}  // namespace parlux
