// ProgIDs on Windows: registered classes are COM's (CLSIDFromProgID), served by the suites'
// automation servers; the image names are the suite table's.
#include <objbase.h>

#include "class_registry.h"
#include "kit/wide_text.h"

namespace parlux {

ClassRegistry ClassRegistry::Load() { return ClassRegistry(); }

int32_t ClassRegistry::Resolve(const std::string& progId, ClassEntry& entry) const {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kit::WidenUtf8(progId).c_str(), &clsid);
    if (FAILED(hr)) return hr;
    entry.backend = "com";
    entry.imageName.clear();
    return S_OK;
}

}  // namespace parlux
