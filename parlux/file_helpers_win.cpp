// Path forms and file checks of the converter on Windows: UTF-16 calls, "\\?\" long forms for
// the converter's own file calls, 8.3 short forms for the office, structured storage.
#include <windows.h>
// needs <windows.h> first
#include <objbase.h>

#include <cstring>
#include <vector>

#include "file_helpers.h"
#include "hresult.h"
#include "kit/wide_text.h"
#include "log.h"
#include "text.h"

namespace parlux {
namespace {

constexpr size_t kOfficeUnchangedBelow = 244;  // a full form this short goes to the office as it is
constexpr size_t kOfficeMaxUnits = 259;

std::wstring Wide(const std::string& path) { return kit::WidenUtf8(path); }
std::wstring WideLong(const std::string& path) { return Wide(toLongPath(path)); }

size_t Units(const std::string& path) { return Wide(path).size(); }

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Directory part and last component; a root directory keeps its trailing backslash.
void Split(const std::string& full, std::string& directory, std::string& name) {
    size_t separator = full.find_last_of(kPathSeparators);
    if (separator == std::string::npos) {
        directory.clear();
        name = full;
        return;
    }
    name = full.substr(separator + 1);
    directory = full.substr(0, separator);
    if (directory.empty() || directory.back() == ':') directory += '\\';  // "\", "C:\", "\\?\C:\"
}

std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    char last = directory.back();
    return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

// The 8.3 form of an existing path, without its prefix; empty when it has none.
std::string ShortForm(const std::string& path) {
    std::wstring longPath = WideLong(path);
    DWORD needed = GetShortPathNameW(longPath.c_str(), nullptr, 0);
    if (needed == 0) return std::string();
    std::vector<wchar_t> buffer(needed + 1);
    DWORD written =
        GetShortPathNameW(longPath.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (written == 0 || written >= buffer.size()) return std::string();
    return stripLongPathPrefix(kit::NarrowToUtf8(std::wstring(buffer.data(), written)));
}

}  // namespace

std::string fullPath(const std::string& path) {
    std::wstring wide = Wide(path);
    DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<wchar_t> buffer(needed + 1);
    DWORD written =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (written == 0 || written >= buffer.size()) return path;
    return kit::NarrowToUtf8(std::wstring(buffer.data(), written));
}

std::string toLongPath(const std::string& path) {
    std::string f = fullPath(path);
    if (StartsWith(f, "\\\\?\\")) return f;
    if (StartsWith(f, "\\\\")) return "\\\\?\\UNC\\" + f.substr(2);
    return "\\\\?\\" + f;
}

std::string stripLongPathPrefix(const std::string& p) {
    if (StartsWith(p, "\\\\?\\UNC\\")) return "\\\\" + p.substr(8);
    if (StartsWith(p, "\\\\?\\")) return p.substr(4);
    return p;
}

std::string officePath(const std::string& path, size_t) {
    std::string f = fullPath(path);
    if (Units(f) < kOfficeUnchangedBelow) return f;
    std::string shortPath = ShortForm(path);
    if (!shortPath.empty() && Units(shortPath) <= kOfficeMaxUnits) return shortPath;
    std::string directory, name;
    Split(f, directory, name);
    std::string shortDirectory = ShortForm(directory);
    if (shortDirectory.empty()) return std::string();
    std::string joined = Join(shortDirectory, name);
    return Units(joined) <= kOfficeMaxUnits ? joined : std::string();
}

bool samePath(const std::string& a, const std::string& b) {
    return AsciiLower(fullPath(a)) == AsciiLower(fullPath(b));
}

std::string uniqueToken() {
    GUID guid;
    wchar_t text[40];
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0)
        return std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64());
    std::string token;
    for (char c : kit::NarrowToUtf8(text))
        if (c != '{' && c != '}') token += c;
    return token;
}

bool makeTempOutputPath(const std::string& target, std::string& out, int& fd) {
    std::string directory, name;
    Split(fullPath(target), directory, name);
    if (directory.empty()) directory = fullPath(".");
    DWORD attributes = GetFileAttributesW(WideLong(directory).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string token;
        for (char c : uniqueToken())
            if (c != '-') token += c;
        std::string candidate = Join(directory, "plx" + token.substr(0, 5) + ".pdf");
        std::wstring wide = WideLong(candidate);
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        CloseHandle(file);
        DeleteFileW(wide.c_str());
        out = candidate;
        fd = 0;  // held by its name only: the office creates the file itself
        return true;
    }
    return false;
}

bool isValidPdf(const std::string& path) {
    HANDLE file = CreateFileW(WideLong(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    char head[5];
    DWORD read = 0;
    bool valid = GetFileSizeEx(file, &size) && size.QuadPart >= 5 &&
                 ReadFile(file, head, 5, &read, nullptr) && read == 5 &&
                 std::memcmp(head, "%PDF-", 5) == 0;
    CloseHandle(file);
    return valid;
}

ResultCode checkSourceAccess(const std::string& path) {
    std::wstring wide = WideLong(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return kSourceUnavailable;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? kSourceBusy : kSourceUnavailable;
    CloseHandle(file);
    return kSuccess;
}

bool isEncryptedPackage(const std::string& path) {
    std::wstring name = Wide(path);
    HRESULT hr = StgIsStorageFile(name.c_str());
    if (hr != S_OK) {
        name = WideLong(path);
        hr = StgIsStorageFile(name.c_str());
    }
    writeLog(kDebug, "encryption_probe path=" + path + " storage_type=" + formatHresult(hr));
    if (hr != S_OK) return false;
    IStorage* storage = nullptr;
    hr = StgOpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE | STGM_DIRECT,
                        nullptr, 0, &storage);
    writeLog(kDebug, "encryption_probe open_storage=" + formatHresult(hr));
    if (FAILED(hr) || !storage) return false;
    bool encrypted = false;
    IEnumSTATSTG* elements = nullptr;
    if (SUCCEEDED(storage->EnumElements(0, nullptr, 0, &elements)) && elements) {
        STATSTG element;
        while (!encrypted && elements->Next(1, &element, nullptr) == S_OK) {
            encrypted = element.type == STGTY_STREAM && element.pwcsName &&
                        CompareStringOrdinal(element.pwcsName, -1, L"EncryptedPackage", -1, TRUE) ==
                            CSTR_EQUAL;
            CoTaskMemFree(element.pwcsName);
        }
        elements->Release();
    }
    storage->Release();
    return encrypted;
}

void deleteFileQuietly(const std::string& path) {
    if (!path.empty()) DeleteFileW(WideLong(path).c_str());
}

void deleteTempOutput(const std::string& path, int& fd) {
    if (fd < 0) return;
    deleteFileQuietly(path);
    fd = -1;
}

bool commitValidOutput(const std::string& temp, int& fd, const std::string& target) {
    if (fd < 0 || !isValidPdf(temp)) return false;
    if (!MoveFileExW(WideLong(temp).c_str(), WideLong(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    fd = -1;
    return true;
}

}  // namespace parlux
