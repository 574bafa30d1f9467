#include "office_model.h"

#include <cstdio>
#include <memory>

#include "minimal_pdf.h"
#include "office_script.h"

namespace test_office {
namespace {

constexpr LONG kWorksheetType = -4167;
constexpr LONG kChartType = -4109;

// A property that takes puts (kept) and gets.
void AddValue(DispatchObject* object, const std::wstring& name, std::shared_ptr<VARIANT> value) {
    object->Add(name, [value](Call& call) {
        if (call.flags & DISPATCH_PROPERTYPUT) {
            if (call.args.size() != 1) return DISP_E_BADPARAMCOUNT;
            return VariantCopy(value.get(), call.args[0]);
        }
        return call.result ? VariantCopy(call.result, value.get()) : S_OK;
    });
}

std::shared_ptr<VARIANT> NewValue() {
    auto value = std::shared_ptr<VARIANT>(new VARIANT, [](VARIANT* v) {
        VariantClear(v);
        delete v;
    });
    VariantInit(value.get());
    return value;
}

// A member taking exactly `count` arguments whose argument `pathIndex` is a text.
bool TextArgument(const Call& call, size_t count, size_t pathIndex, std::wstring& text) {
    if (call.args.size() != count || call.args[pathIndex]->vt != VT_BSTR ||
        !call.args[pathIndex]->bstrVal)
        return false;
    text = call.args[pathIndex]->bstrVal;
    return true;
}

HRESULT WritePdf(const std::wstring& path, const std::wstring& source, Call& call) {
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) {
        call.description = L"The export file could not be created.";
        return static_cast<HRESULT>(0x800A1066);
    }
    std::string bytes = OfficeState::Get().script().exportGarbage
                            ? std::string("not a pdf")
                            : MinimalPdf("Converted by parlux_test_office: " +
                                         std::string(source.begin(), source.end()));
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return S_OK;
}

HRESULT CloseMember(Call& call) {
    return call.args.size() == 1 && call.args[0]->vt == VT_BOOL ? S_OK : DISP_E_TYPEMISMATCH;
}

DispatchObject* NewDocument(const std::wstring& source) {
    auto* view = new DispatchObject(L"View");
    AddValue(view, L"RevisionsView", NewValue());
    AddValue(view, L"ShowRevisionsAndComments", NewValue());
    auto* filter = new DispatchObject(L"RevisionsFilter");
    AddValue(filter, L"Markup", NewValue());
    AddValue(filter, L"View", NewValue());
    view->AddObject(L"RevisionsFilter", filter);
    auto* pane = new DispatchObject(L"Pane");
    view->AddRef();
    pane->AddObject(L"View", view);
    auto* window = new DispatchObject(L"Window");
    window->AddObject(L"ActivePane", pane);
    window->AddObject(L"View", view);
    auto* document = new DispatchObject(L"Document");
    document->AddObject(L"ActiveWindow", window);
    document->Add(L"ExportAsFixedFormat", [source](Call& call) {
        std::wstring output;
        return TextArgument(call, 14, 0, output) ? WritePdf(output, source, call)
                                                 : DISP_E_BADPARAMCOUNT;
    });
    document->Add(L"Close", CloseMember);
    return document;
}

// Rows of a used range: one height for all (Null when they differ), and each row.
DispatchObject* NewRows(const SheetScript& sheet) {
    auto heights = std::make_shared<std::vector<double>>(sheet.rowHeights);
    auto* rows = new DispatchObject(L"Rows");
    rows->Add(L"Count", [heights](Call& call) {
        return ReturnInt(call.result, static_cast<LONG>(heights->size()));
    });
    rows->Add(L"RowHeight", [heights](Call& call) {
        if (call.flags & DISPATCH_PROPERTYPUT) {
            VARIANT value;
            VariantInit(&value);
            if (call.args.size() != 1 || FAILED(VariantChangeType(&value, call.args[0], 0, VT_R8)))
                return DISP_E_TYPEMISMATCH;
            for (double& h : *heights) h = value.dblVal;
            return S_OK;
        }
        for (double h : *heights)
            if (h != heights->front()) {
                if (call.result) call.result->vt = VT_NULL;
                return S_OK;
            }
        return ReturnDouble(call.result, heights->empty() ? 0 : heights->front());
    });
    rows->Add(L"Item", [heights](Call& call) {
        VARIANT index;
        VariantInit(&index);
        if (call.args.size() != 1 || FAILED(VariantChangeType(&index, call.args[0], 0, VT_I4)) ||
            index.lVal < 1 || static_cast<size_t>(index.lVal) > heights->size())
            return DISP_E_BADINDEX;
        auto* row = new DispatchObject(L"Row");
        size_t at = static_cast<size_t>(index.lVal - 1);
        row->Add(L"RowHeight", [heights, at](Call& rowCall) {
            if (!(rowCall.flags & DISPATCH_PROPERTYPUT))
                return ReturnDouble(rowCall.result, (*heights)[at]);
            VARIANT value;
            VariantInit(&value);
            if (rowCall.args.size() != 1 ||
                FAILED(VariantChangeType(&value, rowCall.args[0], 0, VT_R8)))
                return DISP_E_TYPEMISMATCH;
            (*heights)[at] = value.dblVal;
            return S_OK;
        });
        HRESULT hr = ReturnObject(call.result, row);
        row->Release();
        return hr;
    });
    return rows;
}

DispatchObject* NewSheet(const SheetScript& script) {
    auto* sheet = new DispatchObject(L"Sheet");
    bool chart = script.chart;
    sheet->Add(L"Type", [chart](Call& call) {
        return ReturnInt(call.result, chart ? kChartType : kWorksheetType);
    });
    auto* shapes = new DispatchObject(L"Shapes");
    long shapeCount = script.shapes;
    shapes->Add(L"Count", [shapeCount](Call& call) { return ReturnInt(call.result, shapeCount); });
    sheet->AddObject(L"Shapes", shapes);
    auto* range = new DispatchObject(L"Range");
    std::wstring value = script.value;
    range->Add(L"Formula", [value](Call& call) {
        if (value.empty()) return S_OK;  // an empty cell: VT_EMPTY
        return ReturnText(call.result, value);
    });
    range->AddObject(L"Rows", NewRows(script));
    sheet->AddObject(L"UsedRange", range);
    auto* setup = new DispatchObject(L"PageSetup");
    for (const wchar_t* name : {L"Zoom", L"FitToPagesWide", L"FitToPagesTall"})
        AddValue(setup, name, NewValue());
    sheet->AddObject(L"PageSetup", setup);
    return sheet;
}

// A collection of the workbook's sheets (all of them, or the worksheets only).
DispatchObject* NewSheets(const std::vector<SheetScript>& scripts, bool worksheetsOnly) {
    auto sheets = std::shared_ptr<std::vector<DispatchObject*>>(
        new std::vector<DispatchObject*>, [](auto* all) {
            for (DispatchObject* sheet : *all) sheet->Release();
            delete all;
        });
    for (const SheetScript& script : scripts)
        if (!worksheetsOnly || !script.chart) sheets->push_back(NewSheet(script));
    auto* collection = new DispatchObject(L"Sheets");
    collection->Add(L"Count", [sheets](Call& call) {
        return ReturnInt(call.result, static_cast<LONG>(sheets->size()));
    });
    collection->Add(L"Item", [sheets](Call& call) {
        VARIANT index;
        VariantInit(&index);
        if (call.args.size() != 1 || FAILED(VariantChangeType(&index, call.args[0], 0, VT_I4)) ||
            index.lVal < 1 || static_cast<size_t>(index.lVal) > sheets->size())
            return DISP_E_BADINDEX;
        return ReturnObject(call.result, (*sheets)[static_cast<size_t>(index.lVal - 1)]);
    });
    return collection;
}

DispatchObject* NewWorkbook(const std::wstring& source) {
    auto* book = new DispatchObject(L"Workbook");
    const std::vector<SheetScript>& sheets = OfficeState::Get().script().sheets;
    book->AddObject(L"Sheets", NewSheets(sheets, false));
    book->AddObject(L"Worksheets", NewSheets(sheets, true));
    book->Add(L"ExportAsFixedFormat", [source](Call& call) {
        std::wstring output;
        return TextArgument(call, 5, 1, output) ? WritePdf(output, source, call)
                                                : DISP_E_BADPARAMCOUNT;
    });
    book->Add(L"Close", CloseMember);
    return book;
}

// "Documents" or "Workbooks": Open with `count` arguments, the first the file name.
DispatchObject* NewCollection(const wchar_t* kind, size_t count,
                              DispatchObject* (*open)(const std::wstring&)) {
    auto* collection = new DispatchObject(kind);
    collection->Add(L"Open", [count, open](Call& call) {
        std::wstring path;
        if (!TextArgument(call, count, 0, path)) return DISP_E_BADPARAMCOUNT;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            call.description = L"Sorry, we couldn't find your file.";
            return static_cast<HRESULT>(0x800A1436);
        }
        DispatchObject* document = open(path);
        HRESULT hr = ReturnObject(call.result, document);
        document->Release();
        return hr;
    });
    return collection;
}

class Application : public DispatchObject {
public:
    Application(HWND window, std::function<void()> onQuit)
        : DispatchObject(L"Application"), m_onQuit(std::move(onQuit)) {
        for (const wchar_t* name :
             {L"Visible", L"DisplayAlerts", L"AutomationSecurity", L"AskToUpdateLinks"})
            AddValue(this, name, NewValue());
        Add(L"Hwnd", [window](Call& call) {
            if (OfficeState::Get().script().noHwnd) return DISP_E_MEMBERNOTFOUND;
            return ReturnInt(call.result, static_cast<LONG>(reinterpret_cast<intptr_t>(window)));
        });
        AddObject(L"Documents", NewCollection(L"Documents", 16, NewDocument));
        AddObject(L"Workbooks", NewCollection(L"Workbooks", 7, NewWorkbook));
        Add(L"Quit", [this](Call& call) {
            if (!call.args.empty()) return DISP_E_BADPARAMCOUNT;
            m_onQuit();
            return S_OK;
        });
    }
    ~Application() override { m_onQuit(); }

private:
    std::function<void()> m_onQuit;
};

}  // namespace

DispatchObject* NewApplication(HWND window, std::function<void()> onQuit) {
    return new Application(window, std::move(onQuit));
}

}  // namespace test_office
