// Loading vendor libraries on Windows: the library's directory becomes the DLL directory (so its
// own dependencies are found there too), then the library is loaded by its plain name.
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "kit/wide_text.h"
#include "platform/module_loader.h"

namespace platform {
namespace {

std::mutex g_loadMutex;  // the DLL directory is process-wide
DWORD g_lastError = 0;

}  // namespace

void* LoadModule(const std::string& path) {
    std::wstring wide = kit::WidenUtf8(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    size_t slash = wide.rfind(L'\\');
    std::lock_guard<std::mutex> lock(g_loadMutex);
    HMODULE module = nullptr;
    if (slash == std::wstring::npos) {
        module = LoadLibraryW(wide.c_str());
    } else {
        std::wstring dir = wide.substr(0, slash), name = wide.substr(slash + 1);
        if (SetDllDirectoryW(dir.c_str())) module = LoadLibraryW(name.c_str());
    }
    g_lastError = module ? 0 : GetLastError();
    return reinterpret_cast<void*>(module);
}

void* ModuleSymbol(void* module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

std::string LastModuleError() {
    std::lock_guard<std::mutex> lock(g_loadMutex);
    if (g_lastError == 0) return "";
    char text[48];
    std::snprintf(text, sizeof text, "LoadLibrary error %lu",
                  static_cast<unsigned long>(g_lastError));
    return text;
}

}  // namespace platform
