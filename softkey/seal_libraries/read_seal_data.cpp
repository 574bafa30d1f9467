// A seal library of the "ReadSealData" family, built once per form (HNXA, GGZY or GZ).
#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "seal_libraries/seal_source.h"
#include "skf/seal_library.h"

using namespace softkey;
using namespace softkey::seal;

SEAL_EXPORT int IsUKIn() {
    if (!ServedKey()) return 1;
    return static_cast<int>(InjectedFault("IsUKIn"));
}

SEAL_EXPORT int GetSealCount() {
    if (InjectedFault("GetSealCount") != 0) return 0;
    return static_cast<int>(ServedSeals(SealForm::Ggzy).size());
}

#if defined(SEAL_FORM_HNXA)

// The key's first seal. Like the vendor's, it reports the length the document needs even when
// the caller's buffer is smaller, copying only what fits.
SEAL_EXPORT int ReadSealData(int, unsigned char* buffer, int* length) {
    if (!buffer || !length || *length < 0) return 1;
    std::vector<SealEntry> seals = ServedSeals(SealForm::Ggzy);
    if (seals.empty()) return 1;
    if (uint32_t code = InjectedFault("ReadSealData", seals.front().name))
        return static_cast<int>(code);
    std::string document = SealDocument(seals.front());
    std::memcpy(buffer, document.data(),
                std::min<size_t>(document.size(), static_cast<size_t>(*length)));
    *length = static_cast<int>(document.size());
    return 0;
}

#else

namespace {

// The document of seal `index`; empty past the last seal or when the call is made to fail.
std::string Document(int index) {
    std::vector<SealEntry> seals = ServedSeals(SealForm::Ggzy);
    if (index < 0 || static_cast<size_t>(index) >= seals.size()) return std::string();
    const SealEntry& seal = seals[static_cast<size_t>(index)];
    if (InjectedFault("ReadSealData", seal.name) != 0) return std::string();
    return SealDocument(seal);
}

}  // namespace

#if defined(SEAL_FORM_GGZY)

// Returned by value: see skf/seal_library.h for why both sides must share one std::string.
SEAL_EXPORT std::string ReadSealData(int index) { return Document(index); }

#elif defined(SEAL_FORM_GZ)

// The text stays valid until the calling thread's next call.
SEAL_EXPORT const char* ReadSealData(int index) {
    static thread_local std::string text;
    text = Document(index);
    return text.c_str();
}

#else
#error "build with SEAL_FORM_HNXA, SEAL_FORM_GGZY or SEAL_FORM_GZ"
#endif

#endif

// Keeps the declared types and the definitions above in step.
#if defined(SEAL_FORM_HNXA)
static_assert(std::is_same_v<decltype(ReadSealData), ReadSealDataHNXAFunction>);
#elif defined(SEAL_FORM_GGZY)
static_assert(std::is_same_v<decltype(ReadSealData), ReadSealDataGGZYFunction>);
#else
static_assert(std::is_same_v<decltype(ReadSealData), ReadSealDataGZFunction>);
#endif
static_assert(std::is_same_v<decltype(IsUKIn), SealIsUKInFunction>);
static_assert(std::is_same_v<decltype(GetSealCount), SealGetSealCountFunction>);
