#include "seal_libraries/seal_source.h"

#include <cstring>
#include <stdexcept>

#include "core/faults.h"
#include "core/vbus.h"
#include "platform/files.h"

namespace softkey::seal {
namespace {

// The SKF library each catalogue seal library is shipped with.
const char* const kPairs[][2] = {
    {"XS_GetSealInfo.dll", "SKF20060.dll"},
    {"SNCA_GetSeal180514.dll", "SKFAPI20045.dll"},
    {"SEAL_GZCA_KGseal.dll", "GZCA_WT.dll"},
    {"ahca_oes.dll", "SKF_AHAPP.dll"},
};

std::string LoadedName() {
    return platform::ModuleFileName(reinterpret_cast<const void*>(&ServedKey));
}

// The SKF library paired with this copy's name; empty (any) for other names.
std::string PairedDriver() {
    std::string name = LoadedName();
    for (const auto& pair : kPairs)
        if (name == pair[0]) return pair[1];
    return "";
}

bool ListedBy(const Token& token, const std::string& driver) {
    if (driver.empty() || token.drivers.empty()) return true;
    for (const std::string& d : token.drivers)
        if (d == driver) return true;
    return false;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

std::optional<std::string> ServedKey() {
    try {
        Store store(Store::DefaultRoot());
        Store::Lock lock(store, false);
        std::string driver = PairedDriver();
        for (const std::string& serial : PluggedSerials(store)) {
            try {
                if (store.Exists(serial) && ListedBy(store.Load(serial), driver)) return serial;
            } catch (const std::runtime_error&) {
                // a refused key serves no seals
            }
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::vector<SealEntry> ServedSeals(SealForm form) {
    std::vector<SealEntry> seals;
    std::optional<std::string> serial = ServedKey();
    if (!serial) return seals;
    try {
        Store store(Store::DefaultRoot());
        Store::Lock lock(store, false);
        for (SealEntry& e : LoadSeals(store, *serial))
            if (e.form == form) seals.push_back(std::move(e));
    } catch (const std::exception&) {
        seals.clear();
    }
    return seals;
}

uint32_t InjectedFault(const char* function, const std::string& arg) {
    std::optional<std::string> serial = ServedKey();
    return serial ? TakeFault(Store(Store::DefaultRoot()), *serial, function, arg) : 0;
}

std::string InjectedQuirk(const char* function, const std::string& arg) {
    std::optional<std::string> serial = ServedKey();
    return serial ? TakeQuirk(Store(Store::DefaultRoot()), *serial, function, arg) : std::string();
}

std::string SealDocument(const SealEntry& seal) {
    return "<?xml version=\"1.0\" encoding=\"GBK\"?>\n<seals><sealinfo><sealname>" +
           Escaped(seal.name) + "</sealname><sealdata>" + ToBase64(seal.image) +
           "</sealdata><sealtime>" + Escaped(seal.time) + "</sealtime></sealinfo></seals>\n";
}

void ImageSize(const Bytes& image, int& width, int& height) {
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    width = height = 0;
    if (image.size() < 24 || std::memcmp(image.data(), kPng, sizeof kPng) != 0 ||
        std::memcmp(image.data() + 12, "IHDR", 4) != 0)
        return;
    width = static_cast<int>(BigEndian32(image.data() + 16) & 0x7FFFFFFF);
    height = static_cast<int>(BigEndian32(image.data() + 20) & 0x7FFFFFFF);
}

}  // namespace softkey::seal
