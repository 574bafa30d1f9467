// A seal library with the OES entry points.
#include <cstring>
#include <string>
#include <type_traits>

#include "seal_libraries/seal_source.h"
#include "skf/seal_library.h"

using namespace softkey;
using namespace softkey::seal;

namespace {

// The seal handed out by OES_GetSeal: a tag and the seal's name.
constexpr char kSealTag[] = "SOFTKEY-OES-SEAL:";

bool FindSeal(const std::string& name, SealEntry& found) {
    for (SealEntry& e : ServedSeals(SealForm::Oes)) {
        if (e.name != name) continue;
        found = std::move(e);
        return true;
    }
    return false;
}

}  // namespace

// Identifiers that fit the caller's buffer, each with its NUL, then the empty one if room is
// left: a list that fills the buffer exactly has no closing empty identifier.
SEAL_EXPORT int OES_GetSealList(unsigned char* list, int* length) {
    if (!list || !length || *length < 0) return 1;
    if (!ServedKey()) return 2;
    if (uint32_t code = InjectedFault("OES_GetSealList")) return static_cast<int>(code);
    size_t room = static_cast<size_t>(*length), used = 0;
    for (const SealEntry& e : ServedSeals(SealForm::Oes)) {
        if (used + e.name.size() + 1 > room) break;
        std::memcpy(list + used, e.name.c_str(), e.name.size() + 1);
        used += e.name.size() + 1;
    }
    if (used < room) list[used++] = '\0';
    *length = static_cast<int>(used);
    return 0;
}

SEAL_EXPORT int OES_GetSeal(unsigned char* id, int idLength, unsigned char* seal, int* sealLength) {
    if (!id || idLength < 0 || !seal || !sealLength) return 1;
    std::string name(reinterpret_cast<const char*>(id), static_cast<size_t>(idLength));
    SealEntry entry;
    if (!FindSeal(name, entry)) return 3;
    if (uint32_t code = InjectedFault("OES_GetSeal", name)) return static_cast<int>(code);
    std::string data = kSealTag + name;
    if (*sealLength < 0 || static_cast<size_t>(*sealLength) < data.size()) return 4;
    std::memcpy(seal, data.data(), data.size());
    *sealLength = static_cast<int>(data.size());
    return 0;
}

// With a null buffer the image length; with a buffer the image, its width and height. The quirk
// "overlong" reports more bytes than the buffer holds, as a faulty library does.
SEAL_EXPORT int OES_GetSealImage(unsigned char* seal, int sealLength, int, unsigned char* image,
                                 int* imageLength, int* width, int* height) {
    const size_t tag = sizeof kSealTag - 1;
    if (!seal || sealLength < static_cast<int>(tag) || !imageLength) return 1;
    std::string data(reinterpret_cast<const char*>(seal), static_cast<size_t>(sealLength));
    if (data.compare(0, tag, kSealTag) != 0) return 5;
    std::string name = data.substr(tag);
    SealEntry entry;
    if (!FindSeal(name, entry)) return 3;
    if (uint32_t code = InjectedFault("OES_GetSealImage", name)) return static_cast<int>(code);
    if (!image) {
        *imageLength = static_cast<int>(entry.image.size());
        return 0;
    }
    if (*imageLength < 0 || static_cast<size_t>(*imageLength) < entry.image.size()) return 4;
    if (!entry.image.empty()) std::memcpy(image, entry.image.data(), entry.image.size());
    *imageLength = static_cast<int>(entry.image.size());
    if (InjectedQuirk("OES_GetSealImage", name) == "overlong") *imageLength += 16;
    if (width && height) ImageSize(entry.image, *width, *height);
    return 0;
}

static_assert(std::is_same_v<decltype(OES_GetSealList), OesGetSealListFunction>);
static_assert(std::is_same_v<decltype(OES_GetSeal), OesGetSealFunction>);
static_assert(std::is_same_v<decltype(OES_GetSealImage), OesGetSealImageFunction>);
