// The program directory, driver directory and log file on Windows.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "kit/wide_text.h"
#include "platform/program_paths.h"

namespace platform {

std::string ProgramDirectory() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            std::wstring exe(path.data(), n);
            size_t slash = exe.find_last_of(L"\\/");
            return slash == std::wstring::npos ? "." : kit::NarrowToUtf8(exe.substr(0, slash));
        }
        path.resize(path.size() * 2);
    }
}

std::string DriverDirectory() {
    const char* value = std::getenv("TESSAL_DRIVER_DIR");
    std::string dir = value ? value : "";
    if (dir.empty()) return ProgramDirectory();
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
    return dir;
}

std::string LogFilePath() {
    const char* value = std::getenv("TESSAL_LOG_FILE");
    return value && *value ? std::string(value) : std::string("C:/ZYK/ZYKUKeyDriver.log");
}

}  // namespace platform
