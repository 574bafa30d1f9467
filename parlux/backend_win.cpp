// The office back end on Windows: the suites' own automation servers, created by ProgID as
// local (out-of-process) servers in the worker's single-threaded apartment.
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "backend.h"
#include "backends/com/com_object.h"
#include "kit/wide_text.h"

namespace parlux {

int32_t InitializeAutomation() {
#ifdef PARLUX_TEST_SEAMS
    // Tests only: PARLUX_TEST_COM_APARTMENT=multithreaded puts the thread in the multithreaded
    // apartment first, so that joining the single-threaded one fails as COM makes it fail.
    const char* apartment = std::getenv("PARLUX_TEST_COM_APARTMENT");
    if (apartment && std::strcmp(apartment, "multithreaded") == 0)
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return FAILED(hr) ? hr : S_OK;
}

void ShutdownAutomation() { CoUninitialize(); }

int32_t CreateApplication(const std::string& progId, const ClassEntry&, DispatchObject& app,
                          std::string&) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kit::WidenUtf8(progId).c_str(), &clsid);
    if (FAILED(hr)) return hr;
    IDispatch* dispatch = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) return hr;
    if (!dispatch) return E_NOINTERFACE;
    app = DispatchObject(std::make_shared<com::ComObject>(dispatch));
    return S_OK;
}

// Each suite's application serves its own kind of document.
bool OpensBothKinds(const ClassEntry&) { return false; }

}  // namespace parlux
