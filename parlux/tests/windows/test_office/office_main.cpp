// parlux_test_office: a scripted out-of-process COM automation server playing Word, Excel and
// WPS for the converter's tests. Registered under LocalServer32 as
//   "<dir>\winword.exe" --clsid {...} [--registration single|multiple]
// (a copy per image name of the suite table); COM adds -Embedding when it starts it.
// Each document's script beside it (see office_script.h) tells it how to behave.
#include <windows.h>
// needs <windows.h> first
#include <objbase.h>

#include <cwchar>
#include <string>

#include "office_model.h"
#include "office_script.h"

namespace {

using test_office::AfterQuit;
using test_office::OfficeState;

constexpr UINT_PTR kQuitTimer = 1;
HWND g_window = nullptr;
DWORD g_cookie = 0;
bool g_quitting = false;

// Quit, or the last reference gone: the process ends unless the script keeps it.
void OnQuit() {
    if (g_quitting) return;
    g_quitting = true;
    if (g_cookie) CoRevokeClassObject(g_cookie);
    g_cookie = 0;
    // A little later, so that the reply of the call that quit reaches the client first.
    if (OfficeState::Get().script().afterQuit == AfterQuit::Exit)
        SetTimer(g_window, kQuitTimer, 100, nullptr);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kQuitTimer) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_CLOSE) {
        if (OfficeState::Get().script().afterQuit != AfterQuit::IgnoreClose) PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        test_office::DispatchObject* app = test_office::NewApplication(g_window, OnQuit);
        HRESULT hr = app->QueryInterface(iid, out);
        app->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

std::wstring Option(int argc, wchar_t** argv, const wchar_t* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::wcscmp(argv[i], name) == 0) return argv[i + 1];
    return std::wstring();
}

bool HasEmbedding(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i)
        if (_wcsicmp(argv[i], L"-Embedding") == 0 || _wcsicmp(argv[i], L"/Embedding") == 0)
            return true;
    return false;
}

void InstallCallHook() {
    test_office::SetCallHook([](const std::wstring& name, test_office::Call& call) {
        std::vector<std::wstring> arguments;
        for (VARIANT* arg : call.args) arguments.push_back(test_office::Describe(*arg));
        bool open = name == L"Documents.Open" || name == L"Workbooks.Open";
        if (open && !call.args.empty() && call.args[0]->vt == VT_BSTR && call.args[0]->bstrVal)
            OfficeState::Get().UseDocument(call.args[0]->bstrVal);
        if (call.flags & DISPATCH_PROPERTYPUT)
            return OfficeState::Get().BeforeCall(name + L"=", arguments, call.description);
        return OfficeState::Get().BeforeCall(name, arguments, call.description);
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CLSID clsid;
    std::wstring clsidText = Option(argc, argv, L"--clsid");
    if (!HasEmbedding(argc, argv) || FAILED(CLSIDFromString(clsidText.c_str(), &clsid))) return 2;
    bool singleUse = Option(argc, argv, L"--registration") != L"multiple";
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    InstallCallHook();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ParluxTestOffice";
    RegisterClassW(&windowClass);
    // A top-level window (hidden), as an office has: its "Hwnd" names this process, and the
    // converter's cleanup sends WM_CLOSE to it.
    g_window =
        CreateWindowExW(0, windowClass.lpszClassName, L"parlux test office", WS_OVERLAPPEDWINDOW, 0,
                        0, 100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    static Factory factory;
    if (FAILED(CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER,
                                     singleUse ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE, &g_cookie)))
        return 4;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && !message.hwnd) break;  // the quit timer without a window
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (g_cookie) CoRevokeClassObject(g_cookie);
    CoUninitialize();
    return 0;
}
