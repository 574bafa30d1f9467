// The document-level automation calls of a conversion, for Word/Excel and WPS alike.
#pragma once

#include <string>

#include "automation/dispatch.h"
#include "providers.h"

namespace parlux {

constexpr int32_t kWorksheetType = -4167;
constexpr double kMaxRowHeight = 409.0;

int32_t openWordDocument(DispatchObject& app, const std::string& path, DispatchObject& doc, std::string& errorText);
int32_t openWorkbook(DispatchObject& app, const std::string& path, DispatchObject& book, std::string& errorText);
bool isPasswordError(int32_t hr, const std::string& errorText);
int32_t configureFinalRevisionView(Provider provider, DispatchObject& doc);
int32_t workbookHasContent(DispatchObject& book, bool& has);
int32_t worksheetHasContent(DispatchObject& sheet, bool& has);
bool variantHasContent(const Variant& value);
int32_t applyPrintSafeLayout(Provider provider, DispatchObject& book);
int32_t adjustRowHeights(DispatchObject& sheet, bool wholeRangeFirst, double margin);
int32_t exportWordPdf(Provider provider, DispatchObject& doc, const std::string& outputPath);
int32_t exportWorkbookPdf(DispatchObject& book, const std::string& outputPath);

}  // namespace parlux
