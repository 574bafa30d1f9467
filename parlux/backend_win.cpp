// The office back end on Windows: the suites' own automation servers, created by ProgID as
// local (out-of-process) servers in the worker's single-threaded apartment.
#include <objbase.h>

#include <memory>

#include "backend.h"
#include "backends/com/com_object.h"
#include "kit/wide_text.h"

namespace parlux {

int32_t InitializeAutomation() {
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

}  // namespace parlux
