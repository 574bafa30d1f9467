// Seal data as vendor seal libraries and key files hand it over, the same bytes read three ways:
// as a seal description (XML) that a key stores into its seal map and hands back by name, as a
// NUL-separated seal list, and as a seal file name carrying the image size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "token/name_list.h"
#include "token/seal_size.h"
#include "token/skf_ukey.h"

// A key without a library has no device to settle: no wait before opening it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TESSAL_SETTLE_MS", "0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    SkfUKey key("fuzz-seal-key.so");  // no library: only the seal map is used
    key.constructGGZYSeal(bytes);
    for (const std::string& name : key.GetStampImgNames()) {
        std::string image;
        key.GetImgWithName(name, image);
    }

    std::vector<std::string> names = NameList(bytes.data(), bytes.size());
    std::vector<std::string> ended;
    if (EndedNameList(bytes.data(), bytes.size(), ended) && ended != names) abort();

    int width = 0, height = 0;
    SealSizeFromName(bytes, width, height);
    return 0;
}
