#include "office_script.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>

namespace test_office {
namespace {

std::wstring Utf8ToWide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::wstring OwnImageName() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, n);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

SheetScript ParseSheet(std::wistringstream& words) {
    SheetScript sheet;
    sheet.value.clear();
    std::wstring word;
    words >> word;
    sheet.chart = word == L"chart";
    while (words >> word) {
        if (word.compare(0, 7, L"shapes=") == 0)
            sheet.shapes = std::wcstol(word.c_str() + 7, nullptr, 10);
        if (word.compare(0, 6, L"value=") == 0) sheet.value = word.substr(6);
        if (word.compare(0, 5, L"rows=") == 0) {
            sheet.rowHeights.clear();
            std::wistringstream heights(word.substr(5));
            std::wstring height;
            while (std::getline(heights, height, L','))
                sheet.rowHeights.push_back(std::wcstod(height.c_str(), nullptr));
        }
    }
    return sheet;
}

}  // namespace

OfficeScript ReadScript(const std::wstring& document) {
    OfficeScript script;
    std::ifstream in((document + L".script").c_str());
    std::string utf8;
    while (std::getline(in, utf8)) {
        std::wstring line = Utf8ToWide(utf8.substr(0, utf8.find('#')));
        std::wistringstream words(line);
        std::wstring verb, name;
        words >> verb;
        if (!verb.empty() && verb.back() == L':') {  // a line for one image name only
            if (_wcsicmp(verb.substr(0, verb.size() - 1).c_str(), OwnImageName().c_str()) != 0)
                continue;
            words >> verb;
        }
        if (verb == L"fail") {
            std::wstring hr, description;
            words >> name >> hr;
            std::getline(words >> std::ws, description);
            script.failures[name] = static_cast<HRESULT>(std::wcstoul(hr.c_str(), nullptr, 16));
            script.descriptions[name] = description;
        } else if (verb == L"hang" && (words >> name)) {
            script.hangs.push_back(name);
        } else if (verb == L"crash" && (words >> name)) {
            script.crashes.push_back(name);
        } else if (verb == L"after-quit" && (words >> name)) {
            script.afterQuit = name == L"ignore-close" ? AfterQuit::IgnoreClose : AfterQuit::Stay;
        } else if (verb == L"no-hwnd") {
            script.noHwnd = true;
        } else if (verb == L"export-garbage") {
            script.exportGarbage = true;
        } else if (verb == L"sheet") {
            script.sheets.push_back(ParseSheet(words));
        }
    }
    if (script.sheets.empty()) {
        script.sheets.emplace_back();
        script.sheets.back().value = L"1";
    }
    return script;
}

OfficeState& OfficeState::Get() {
    static OfficeState state;
    return state;
}

void OfficeState::UseDocument(const std::wstring& document) {
    m_script = ReadScript(document);
    m_logPath = document + L".calls";
    std::vector<std::wstring> pending;
    pending.swap(m_pending);
    for (const std::wstring& line : pending) Log(line);
}

void OfficeState::Log(const std::wstring& line) {
    if (m_logPath.empty()) {
        m_pending.push_back(line);
        return;
    }
    std::ofstream out(m_logPath.c_str(), std::ios::app | std::ios::binary);
    out << WideToUtf8(line) << "\n";
}

HRESULT OfficeState::BeforeCall(const std::wstring& qualifiedName,
                                const std::vector<std::wstring>& arguments,
                                std::wstring& description) {
    std::wstring line = qualifiedName + L"(";
    for (size_t i = 0; i < arguments.size(); ++i) line += (i ? L", " : L"") + arguments[i];
    Log(line + L")");
    const OfficeScript& s = m_script;
    if (std::find(s.crashes.begin(), s.crashes.end(), qualifiedName) != s.crashes.end())
        TerminateProcess(GetCurrentProcess(), 3);
    if (std::find(s.hangs.begin(), s.hangs.end(), qualifiedName) != s.hangs.end()) Sleep(INFINITE);
    auto failure = s.failures.find(qualifiedName);
    if (failure == s.failures.end()) return S_OK;
    description = s.descriptions.at(qualifiedName);
    return failure->second;
}

}  // namespace test_office
