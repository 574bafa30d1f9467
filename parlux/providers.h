// Document kinds, office suites and the choice of which suites to try.
#pragma once

#include <string>
#include <vector>

#include "records.h"

namespace parlux {

enum class DocumentKind : int { WordDocument = 1, Workbook = 2 };
enum class Provider : int { Microsoft = 0, Wps = 1 };

struct FormatInfo {
    DocumentKind kind = DocumentKind::WordDocument;
    bool supported = false;
    bool wpsOnly = false;
};

// By the extension of the last path component, compared after lowering.
FormatInfo detectFormat(const std::string& path);
// The providers to try in order; `providerArg` is "", "ms" or "wps".
std::vector<Provider> orderProviders(const FormatInfo& format, const std::string& providerArg);

const char* providerText(Provider provider);        // "ms" / "wps"
const char* progId(Provider provider, DocumentKind kind);     // "Word.Application", ...
const char* imageName(Provider provider, DocumentKind kind);  // "winword.exe", ...

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of a fresh random UUID.
std::string newRequestId();
// "Parlux failed: <name> (<code>), stage=<n>, HRESULT=0x........[, message]" and a line end.
std::string failureLine(const ConversionResult& result);
void printFailure(const ConversionResult& result);

}  // namespace parlux
