// Inspection of the library's own state, for tests of the programs that drive it.
#include "lib/runtime.h"

// Open handles of this process: 1 devices, 2 applications, 3 containers, 4 hash handles,
// 5 symmetric keys, 6 MAC handles.
SKF_EXPORT ULONG SOFTKEY_CountOpenHandles(ULONG kind) {
    static const softkey::HandleKind kKinds[] = {
        softkey::HandleKind::Device,       softkey::HandleKind::Application,
        softkey::HandleKind::Container,    softkey::HandleKind::Hash,
        softkey::HandleKind::SymmetricKey, softkey::HandleKind::Mac};
    if (kind < 1 || kind > sizeof kKinds / sizeof kKinds[0]) return 0;
    return static_cast<ULONG>(softkey::CountHandles(kKinds[kind - 1]));
}
