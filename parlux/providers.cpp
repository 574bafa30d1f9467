#include "providers.h"

#include <cstdio>

#include "file_helpers.h"
#include "hresult.h"
#include "text.h"

namespace parlux {
namespace {

// The extension: from the last "." of the last component (not in first position); a component
// ending in "." has the extension "." (".." has none); anything from a ":" on is ignored. On
// Linux only "/" separates components: a backslash is part of a name.
std::string Extension(const std::string& path) {
    size_t slash = path.find_last_of(kPathSeparators);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t colon = name.find(':');
    if (colon != std::string::npos) name.resize(colon);
    if (name == "..") return std::string();
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::string();
    return name.substr(dot);
}

}  // namespace

FormatInfo detectFormat(const std::string& path) {
    std::string ext = AsciiLower(Extension(path));
    FormatInfo info;
    if (ext == ".doc" || ext == ".docx" || ext == ".rtf") {
        info.supported = true;
    } else if (ext == ".xls" || ext == ".xlsx" || ext == ".xlt") {
        info.kind = DocumentKind::Workbook;
        info.supported = true;
    } else if (ext == ".wps" || ext == ".wpt") {
        info.supported = info.wpsOnly = true;
    } else if (ext == ".et" || ext == ".ett") {
        info.kind = DocumentKind::Workbook;
        info.supported = info.wpsOnly = true;
    }
    return info;
}

std::vector<Provider> orderProviders(const FormatInfo& format, const std::string& providerArg) {
    if (!format.supported) return {};
    if (providerArg == "ms") return format.wpsOnly ? std::vector<Provider>{} : std::vector<Provider>{Provider::Microsoft};
    if (providerArg == "wps") return {Provider::Wps};
    if (format.wpsOnly) return {Provider::Wps};
    return {Provider::Microsoft, Provider::Wps};
}

const char* providerText(Provider provider) { return provider == Provider::Microsoft ? "ms" : "wps"; }

const char* progId(Provider provider, DocumentKind kind) {
    if (provider == Provider::Microsoft) return kind == DocumentKind::Workbook ? "Excel.Application" : "Word.Application";
    return kind == DocumentKind::Workbook ? "KET.Application" : "KWPS.Application";
}

const char* imageName(Provider provider, DocumentKind kind) {
    if (provider == Provider::Microsoft) return kind == DocumentKind::Workbook ? "excel.exe" : "winword.exe";
    return kind == DocumentKind::Workbook ? "et.exe" : "wps.exe";
}

std::string newRequestId() { return "{" + uniqueToken() + "}"; }

std::string failureLine(const ConversionResult& result) {
    std::string line = std::string("Parlux failed: ") + resultName(result.code) + " (" + std::to_string(result.code) +
                       "), stage=" + std::to_string(result.stage) + ", HRESULT=" + formatHresult(result.hr);
    std::string message = MessageText(result.message);
    if (!message.empty()) line += ", " + message;
    return line + "\n";
}

void printFailure(const ConversionResult& result) { std::fputs(failureLine(result).c_str(), stderr); }

}  // namespace parlux
