// The software key's loading of a token file from its store, over arbitrary file contents: the
// file is the one store key "FUZZ01" names, loaded as the SKF library loads a key.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "core/fs_util.h"
#include "core/store.h"

namespace {

const std::string kSerial = "FUZZ01";

// A store directory of this process, under $TMPDIR.
const softkey::Store& FuzzStore() {
    static const softkey::Store store = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/softkey-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) abort();
        softkey::Store s(pattern);
        s.Prepare();
        return s;
    }();
    return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const softkey::Store& store = FuzzStore();
    softkey::WriteFileAtomic(store.TokenPath(kSerial), std::string(reinterpret_cast<const char*>(data), size));
    try {
        store.Load(kSerial);
    } catch (const std::runtime_error&) {
        // refused with a message naming the key: what damaged files must get
    }
    return 0;
}
