// The program directory, driver directories and log file on Windows.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "kit/wide_text.h"
#include "platform/program_paths.h"

namespace platform {

namespace {

std::string ModuleDirectory(HMODULE module) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            std::wstring file(path.data(), n);
            size_t slash = file.find_last_of(L"\\/");
            return slash == std::wstring::npos ? "." : kit::NarrowToUtf8(file.substr(0, slash));
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::string ProgramDirectory() { return ModuleDirectory(nullptr); }

std::string SystemDriverDirectory() {
    // The directory libtessal.dll was loaded from.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&SystemDriverDirectory), &self))
        return JoinPath(ProgramDirectory(), "tessal/drivers");
    return JoinPath(ModuleDirectory(self), "tessal/drivers");
}

std::vector<std::string> DriverDirectories() {
    const char* value = std::getenv("TESSAL_DRIVER_DIR");
    std::string dir = value ? value : "";
    if (!dir.empty()) {
        while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
        return {dir};
    }
    return {ProgramDirectory(), SystemDriverDirectory()};
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' || dir.back() == '\\' ? dir + name : dir + "/" + name;
}

std::string LogFilePath() {
    const char* value = std::getenv("TESSAL_LOG_FILE");
    return value && *value ? std::string(value) : std::string("C:/ZYK/ZYKUKeyDriver.log");
}

}  // namespace platform
