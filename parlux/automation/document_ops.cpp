#include "automation/document_ops.h"

#include <algorithm>

#include "text.h"

namespace parlux {
namespace {

bool Failed(int32_t hr) { return hr < 0; }

// A property of `from` as an object.
int32_t GetObject(DispatchObject& from, const std::string& name, DispatchObject& out,
                  const std::vector<Variant>& args = {}) {
    Variant value;
    int32_t hr = from.getProperty(name, args, value);
    if (Failed(hr)) return hr;
    return DispatchObject::toDispatch(value, out);
}

int32_t GetCount(DispatchObject& collection, int32_t& count) {
    Variant value;
    int32_t hr = collection.getProperty("Count", {}, value);
    if (Failed(hr)) return hr;
    return VariantToInt32(value, count) ? 0 : kDispETypeMismatch;
}

int32_t OpenIn(DispatchObject& app, const char* collectionName, const std::vector<Variant>& args, DispatchObject& out,
               std::string& errorText) {
    DispatchObject collection;
    int32_t hr = GetObject(app, collectionName, collection);
    if (Failed(hr)) return hr;
    Variant result;
    hr = collection.callMethod("Open", args, &result);
    if (Failed(hr)) {
        errorText = collection.lastErrorText();
        return hr;
    }
    return DispatchObject::toDispatch(result, out);
}

}  // namespace

int32_t openWordDocument(DispatchObject& app, const std::string& path, DispatchObject& doc, std::string& errorText) {
    const Variant no = Variant::Flag(false), yes = Variant::Flag(true), empty = Variant::Text(""),
                  missing = Variant::Missing();
    return OpenIn(app, "Documents",
                  {Variant::Text(path), no, yes, no, empty, empty, no, empty, empty, missing, missing, no, yes, missing,
                   yes, missing},
                  doc, errorText);
}

int32_t openWorkbook(DispatchObject& app, const std::string& path, DispatchObject& book, std::string& errorText) {
    return OpenIn(app, "Workbooks",
                  {Variant::Text(path), Variant::Int(0), Variant::Flag(true), Variant::Missing(), Variant::Text(""),
                   Variant::Text(""), Variant::Flag(true)},
                  book, errorText);
}

bool isPasswordError(int32_t hr, const std::string& errorText) {
    if (hr == kPasswordErrorHr) return true;
    std::string lower = AsciiLower(errorText);
    return lower.find("password") != std::string::npos || lower.find("encrypted") != std::string::npos ||
           errorText.find("密码") != std::string::npos || errorText.find("加密") != std::string::npos;
}

int32_t configureFinalRevisionView(Provider provider, DispatchObject& doc) {
    DispatchObject window, view;
    int32_t hr = GetObject(doc, "ActiveWindow", window);
    if (Failed(hr)) return hr;
    if (provider == Provider::Wps) {
        DispatchObject pane;
        hr = GetObject(window, "ActivePane", pane);
        if (!Failed(hr)) hr = GetObject(pane, "View", view);
        if (Failed(hr)) hr = GetObject(window, "View", view);
        if (Failed(hr)) return hr;
        hr = view.putProperty("RevisionsView", Variant::Int(0));
        if (Failed(hr)) return hr;
    } else {
        hr = GetObject(window, "View", view);
        if (Failed(hr)) return hr;
        DispatchObject filter;
        if (!Failed(GetObject(view, "RevisionsFilter", filter))) {
            hr = filter.putProperty("Markup", Variant::Int(0));
            if (!Failed(hr)) hr = filter.putProperty("View", Variant::Int(0));
        } else {
            hr = view.putProperty("RevisionsView", Variant::Int(0));
        }
        if (Failed(hr)) return hr;
    }
    return view.putProperty("ShowRevisionsAndComments", Variant::Flag(false));
}

int32_t workbookHasContent(DispatchObject& book, bool& has) {
    has = false;
    DispatchObject sheets;
    int32_t hr = GetObject(book, "Sheets", sheets);
    if (Failed(hr)) return hr;
    int32_t count = 0;
    hr = GetCount(sheets, count);
    if (Failed(hr)) return hr;
    for (int32_t i = 1; i <= count; ++i) {
        DispatchObject sheet;
        hr = GetObject(sheets, "Item", sheet, {Variant::Int(i)});
        if (Failed(hr)) return hr;
        Variant type = Variant::Int(kWorksheetType);
        int32_t typeValue = kWorksheetType;
        if (!Failed(sheet.getProperty("Type", {}, type)) && VariantToInt32(type, typeValue) &&
            typeValue != kWorksheetType) {
            has = true;  // a chart sheet or another kind of sheet
            return 0;
        }
        bool sheetHas = false;
        hr = worksheetHasContent(sheet, sheetHas);
        if (Failed(hr)) return hr;
        if (sheetHas) {
            has = true;
            return 0;
        }
    }
    return 0;
}

int32_t worksheetHasContent(DispatchObject& sheet, bool& has) {
    has = false;
    DispatchObject shapes;
    int32_t shapeCount = 0;
    if (!Failed(GetObject(sheet, "Shapes", shapes)) && !Failed(GetCount(shapes, shapeCount)) && shapeCount > 0) {
        has = true;
        return 0;
    }
    DispatchObject range;
    int32_t hr = GetObject(sheet, "UsedRange", range);
    if (Failed(hr)) return hr;
    Variant value;
    hr = range.getProperty("Formula", {}, value);
    if (Failed(hr)) hr = range.getProperty("Value2", {}, value);
    if (Failed(hr)) return hr;
    has = variantHasContent(value);
    return 0;
}

bool variantHasContent(const Variant& value) {
    switch (value.type) {
        case VarType::Empty:
        case VarType::Null: return false;
        case VarType::Bstr: return !value.bstr.empty();
        case VarType::Dispatch:
        case VarType::Unknown: return value.object != nullptr;
        case VarType::Array: {
            if (value.nullArray) return false;
            long long total = 1;
            for (const auto& b : value.bounds) {
                if (b.second < b.first) return false;
                total *= static_cast<long long>(b.second) - b.first + 1;
            }
            if (value.bounds.empty()) total = 0;
            if (value.elementType == VarType::Empty) {
                for (const Variant& e : value.elements)
                    if (variantHasContent(e)) return true;
                return false;
            }
            if (value.elementType == VarType::Bstr) {
                for (const Variant& e : value.elements)
                    if (!e.bstr.empty()) return true;
                return false;
            }
            return total != 0;
        }
        default: return true;  // numbers, booleans, errors
    }
}

int32_t applyPrintSafeLayout(Provider provider, DispatchObject& book) {
    DispatchObject sheets;
    int32_t hr = GetObject(book, "Worksheets", sheets);
    if (Failed(hr)) return hr;
    int32_t count = 0;
    hr = GetCount(sheets, count);
    if (Failed(hr)) return hr;
    bool microsoft = provider == Provider::Microsoft;
    for (int32_t i = 1; i <= count; ++i) {
        DispatchObject sheet, setup;
        hr = GetObject(sheets, "Item", sheet, {Variant::Int(i)});
        if (!Failed(hr)) hr = GetObject(sheet, "PageSetup", setup);
        if (!Failed(hr)) hr = adjustRowHeights(sheet, microsoft, microsoft ? 2.5 : 5.0);
        if (!Failed(hr)) hr = setup.putProperty("Zoom", Variant::Flag(false));
        if (!Failed(hr)) hr = setup.putProperty("FitToPagesWide", Variant::Int(1));
        if (!Failed(hr)) hr = setup.putProperty("FitToPagesTall", Variant::Flag(false));
        if (Failed(hr)) return hr;
    }
    return 0;
}

int32_t adjustRowHeights(DispatchObject& sheet, bool wholeRangeFirst, double margin) {
    DispatchObject range, rows;
    int32_t hr = GetObject(sheet, "UsedRange", range);
    if (!Failed(hr)) hr = GetObject(range, "Rows", rows);
    if (Failed(hr)) return hr;
    if (wholeRangeFirst) {
        Variant height;
        hr = rows.getProperty("RowHeight", {}, height);
        if (Failed(hr)) return hr;
        double h = 0;
        if (VariantToDouble(height, h)) {
            if (h > 0 && h < kMaxRowHeight) return rows.putProperty("RowHeight", Variant::Real(std::min(h + margin, kMaxRowHeight)));
            return 0;
        }
    }
    Variant all;
    if (!Failed(rows.getProperty("RowHeights", {}, all)) && all.type == VarType::Array) {
        // The back end holds every row's height as one array: the same change, read and put at once.
        for (Variant& height : all.elements) {
            double h = 0;
            if (!VariantToDouble(height, h)) return kDispETypeMismatch;
            if (h > 0 && h < kMaxRowHeight) height = Variant::Real(std::min(h + margin, kMaxRowHeight));
        }
        return rows.putProperty("RowHeights", all);
    }
    int32_t count = 0;
    hr = GetCount(rows, count);
    if (Failed(hr)) return hr;
    for (int32_t r = 1; r <= count; ++r) {
        DispatchObject row;
        hr = GetObject(rows, "Item", row, {Variant::Int(r)});
        if (Failed(hr)) return hr;
        Variant height;
        hr = row.getProperty("RowHeight", {}, height);
        if (Failed(hr)) return hr;
        double h = 0;
        if (!VariantToDouble(height, h)) return kDispETypeMismatch;
        if (h > 0 && h < kMaxRowHeight) {
            hr = row.putProperty("RowHeight", Variant::Real(std::min(h + margin, kMaxRowHeight)));
            if (Failed(hr)) return hr;
        }
    }
    return 0;
}

int32_t exportWordPdf(Provider provider, DispatchObject& doc, const std::string& outputPath) {
    const Variant no = Variant::Flag(false), yes = Variant::Flag(true), zero = Variant::Int(0);
    return doc.callMethod("ExportAsFixedFormat",
                          {Variant::Text(outputPath), Variant::Int(17), no, zero, zero, zero, zero, zero, yes, yes,
                           Variant::Int(provider == Provider::Wps ? 1 : 0), yes, yes, no});
}

int32_t exportWorkbookPdf(DispatchObject& book, const std::string& outputPath) {
    return book.callMethod("ExportAsFixedFormat", {Variant::Int(0), Variant::Text(outputPath), Variant::Int(0),
                                                   Variant::Flag(true), Variant::Flag(false)});
}

}  // namespace parlux
