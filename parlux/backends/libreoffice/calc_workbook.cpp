// An Excel workbook on LibreOffice Calc: sheets, content, row heights, page fitting, PDF export.
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XIndexReplace.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/packages/zip/ZipFileAccess.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableRows.hpp>

#include <algorithm>

#include "backends/libreoffice/office_objects.h"
#include "backends/libreoffice/uno_text.h"
#include "ooxml_sheets.h"

namespace parlux::libreoffice {
namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

constexpr int32_t kWorksheet = -4167;
constexpr int32_t kChart = -4109;

// A part of a zip package read through the office (empty when it is missing), streamed and
// bounded: false once it exceeds kMaxPackagePartBytes.
bool PackagePart(const Reference<css::packages::zip::XZipFileAccess2>& zip, const char* name, std::string& text) {
    text.clear();
    if (!zip->hasByName(OUString::createFromAscii(name))) return true;
    Reference<css::io::XInputStream> in(zip->getByName(OUString::createFromAscii(name)), UNO_QUERY_THROW);
    css::uno::Sequence<sal_Int8> chunk;
    bool within = true;
    while (within && in->readBytes(chunk, 65536) > 0) {
        within = text.size() + static_cast<size_t>(chunk.getLength()) <= kMaxPackagePartBytes;
        if (within) text.append(reinterpret_cast<const char*>(chunk.getConstArray()), chunk.getLength());
    }
    in->closeInput();
    if (!within) text.clear();
    return within;
}

}  // namespace

// LibreOffice turns an .xlsx chart sheet into a worksheet holding the chart: the package tells.
bool ChartSheets(const Reference<css::uno::XComponentContext>& context, const std::string& copy,
                 std::vector<bool>& flags) {
    flags.clear();
    std::string workbook, relationships;
    try {
        auto zip = css::packages::zip::ZipFileAccess::createWithURL(context, FileUrl(copy));
        if (!PackagePart(zip, "xl/workbook.xml", workbook) ||
            !PackagePart(zip, "xl/_rels/workbook.xml.rels", relationships))
            return false;
    } catch (const css::uno::Exception&) {
        return true;  // not a zip package (.xls): no chart sheets to tell apart
    }
    flags = chartSheetFlags(workbook, relationships);
    return true;
}

namespace {

constexpr double kHundredthMmPerPoint = 2540.0 / 72.0;  // row heights are kept in 1/100 mm

Variant Child(std::shared_ptr<DispatchTarget> object) { return Variant::Object(std::move(object)); }

double HeightPoints(const Reference<css::beans::XPropertySet>& row) {
    return row->getPropertyValue("Height").get<sal_Int32>() / kHundredthMmPerPoint;
}

sal_Int32 HundredthMm(double points) { return static_cast<sal_Int32>(points * kHundredthMmPerPoint + 0.5); }

int32_t SetHeightPoints(const Reference<css::beans::XPropertySet>& row, const Variant& value) {
    double points = 0;
    if (!VariantToDouble(value, points)) return kDispETypeMismatch;
    row->setPropertyValue("Height", Any(HundredthMm(points)));
    return 0;
}

using Context = Reference<css::uno::XComponentContext>;

// The heights of all rows of a range in 1/100 mm, read once and set together: through the
// office's row-height component when it loaded one (one call each way), else row by row.
class RangeRowHeights {
public:
    RangeRowHeights(Reference<css::table::XCellRange> range, Context context)
        : m_range(std::move(range)),
          m_rows(Reference<css::table::XColumnRowRange>(m_range, UNO_QUERY_THROW)->getRows()),
          m_context(std::move(context)) {}

    Reference<css::table::XTableRows> rows() const { return m_rows; }
    const std::vector<sal_Int32>& Read() {
        if (!m_heights.empty()) return m_heights;
        m_component = Component();
        css::uno::Sequence<sal_Int32> all;
        if (m_component.is() && (m_component->getByIndex(0) >>= all)) {
            m_heights.assign(all.begin(), all.end());
            return m_heights;
        }
        m_heights.resize(static_cast<size_t>(m_rows->getCount()));
        for (size_t i = 0; i < m_heights.size(); ++i) m_heights[i] = Row(i)->getPropertyValue("Height").get<sal_Int32>();
        return m_heights;
    }
    void Write(const std::vector<sal_Int32>& heights) {
        Read();
        if (m_component.is()) {
            m_component->replaceByIndex(0, Any(css::uno::Sequence<sal_Int32>(heights.data(), static_cast<sal_Int32>(heights.size()))));
        } else {
            for (size_t i = 0; i < heights.size(); ++i)
                if (heights[i] != m_heights[i]) Row(i)->setPropertyValue("Height", Any(heights[i]));
        }
        m_heights = heights;
    }
    // The rows changed by other means: read again at the next use.
    void Forget() {
        m_heights.clear();
        m_component.clear();
    }

private:
    Reference<css::beans::XPropertySet> Row(size_t i) const {
        return Reference<css::beans::XPropertySet>(m_rows->getByIndex(static_cast<sal_Int32>(i)), UNO_QUERY_THROW);
    }
    Reference<css::container::XIndexReplace> Component() const {
        try {
            Any argument(m_range);
            return Reference<css::container::XIndexReplace>(
                m_context->getServiceManager()->createInstanceWithArgumentsAndContext(
                    "org.parlux.RowHeights", css::uno::Sequence<Any>(&argument, 1), m_context),
                css::uno::UNO_QUERY);
        } catch (const css::uno::Exception&) {
            return {};  // not loaded: row by row
        }
    }

    Reference<css::table::XCellRange> m_range;
    Reference<css::table::XTableRows> m_rows;
    Context m_context;
    Reference<css::container::XIndexReplace> m_component;
    std::vector<sal_Int32> m_heights;
};

class Row : public OfficeObject {
public:
    explicit Row(Reference<css::beans::XPropertySet> row) {
        m_get["RowHeight"] = [row](const std::vector<Variant>&, Variant& out) {
            out = Variant::Real(HeightPoints(row));
            return 0;
        };
        m_put["RowHeight"] = [row](const Variant& v) { return SetHeightPoints(row, v); };
    }
};

// The rows of a used range; their RowHeight is Null when the rows differ, as in Excel. The
// heights are read once, with as few office calls as the office allows, and a height put on
// the whole range is one call. RowHeights is every row's height in points, read and put at once.
class Rows : public OfficeObject {
public:
    explicit Rows(std::shared_ptr<RangeRowHeights> heights) {
        Reference<css::table::XTableRows> rows = heights->rows();
        m_get["Count"] = [rows](const std::vector<Variant>&, Variant& out) {
            out = Variant::Int(rows->getCount());
            return 0;
        };
        m_get["Item"] = [rows, heights](const std::vector<Variant>& args, Variant& out) {
            int32_t i = 0;
            if (args.empty() || !VariantToInt32(args[0], i) || i < 1 || i > rows->getCount()) return kDispEParamNotFound;
            heights->Forget();  // a row may change through its own object
            out = Child(std::make_shared<Row>(Reference<css::beans::XPropertySet>(rows->getByIndex(i - 1), UNO_QUERY_THROW)));
            return 0;
        };
        m_get["RowHeight"] = [heights](const std::vector<Variant>&, Variant& out) {
            const std::vector<sal_Int32>& all = heights->Read();
            bool same = std::all_of(all.begin(), all.end(), [&all](sal_Int32 h) { return h == all.front(); });
            out = all.empty() || !same ? Variant::NullValue() : Variant::Real(all.front() / kHundredthMmPerPoint);
            return 0;
        };
        m_put["RowHeight"] = [rows, heights](const Variant& v) {
            heights->Forget();
            return SetHeightPoints(Reference<css::beans::XPropertySet>(rows, UNO_QUERY_THROW), v);
        };
        m_get["RowHeights"] = [heights](const std::vector<Variant>&, Variant& out) {
            const std::vector<sal_Int32>& all = heights->Read();
            out = Variant();
            out.type = VarType::Array;
            out.elementType = VarType::R8;
            out.bounds = {{1, static_cast<int32_t>(all.size())}};
            for (sal_Int32 h : all) out.elements.push_back(Variant::Real(h / kHundredthMmPerPoint));
            return 0;
        };
        m_put["RowHeights"] = [heights](const Variant& v) {
            if (v.type != VarType::Array || v.elements.size() != heights->Read().size()) return kDispETypeMismatch;
            std::vector<sal_Int32> wanted(v.elements.size());
            for (size_t i = 0; i < wanted.size(); ++i) {
                double points = 0;
                if (!VariantToDouble(v.elements[i], points)) return kDispETypeMismatch;
                wanted[i] = HundredthMm(points);
            }
            heights->Write(wanted);
            return 0;
        };
    }
};

class UsedRange : public OfficeObject {
public:
    UsedRange(Reference<css::sheet::XSpreadsheet> sheet, Context context) {
        Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
        Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
        used->gotoStartOfUsedArea(false);
        used->gotoEndOfUsedArea(true);
        Reference<css::sheet::XCellRangeFormula> formulas(cursor, UNO_QUERY_THROW);
        m_get["Formula"] = [formulas](const std::vector<Variant>&, Variant& out) {
            auto table = formulas->getFormulaArray();
            if (table.getLength() == 1 && table[0].getLength() == 1) {
                out = Variant::Text(ToUtf8(table[0][0]));
                return 0;
            }
            out = Variant();
            out.type = VarType::Array;
            out.elementType = VarType::Empty;
            int32_t columns = table.getLength() ? table[0].getLength() : 0;
            out.bounds = {{1, table.getLength()}, {1, columns}};
            for (const auto& line : table)
                for (const auto& cell : line) out.elements.push_back(Variant::Text(ToUtf8(cell)));
            return 0;
        };
        Reference<css::table::XCellRange> cells(cursor, UNO_QUERY_THROW);
        m_get["Rows"] = [cells, context](const std::vector<Variant>&, Variant& out) {
            out = Child(std::make_shared<Rows>(std::make_shared<RangeRowHeights>(cells, context)));
            return 0;
        };
    }
};

class PageSetup : public OfficeObject {
public:
    explicit PageSetup(Reference<css::beans::XPropertySet> style) {
        m_put["Zoom"] = [](const Variant&) { return 0; };  // scaling is chosen by the fit settings
        m_put["FitToPagesWide"] = [style](const Variant& v) {
            int32_t n = 0;
            if (!VariantToInt32(v, n)) return kDispETypeMismatch;
            style->setPropertyValue("ScaleToPagesX", Any(static_cast<sal_Int16>(n)));
            return 0;
        };
        m_put["FitToPagesTall"] = [style](const Variant& v) {
            int32_t n = 0;  // false: as many pages tall as needed
            if (!VariantToInt32(v, n)) return kDispETypeMismatch;
            style->setPropertyValue("ScaleToPagesY", Any(static_cast<sal_Int16>(n < 0 ? 0 : n)));
            return 0;
        };
    }
};

class Sheet : public OfficeObject {
public:
    Sheet(Reference<css::frame::XModel> model, Reference<css::sheet::XSpreadsheet> sheet, bool chart, Context context) {
        m_get["Type"] = [chart](const std::vector<Variant>&, Variant& out) {
            out = Variant::Int(chart ? kChart : kWorksheet);
            return 0;
        };
        m_get["Shapes"] = [sheet](const std::vector<Variant>&, Variant& out) {
            auto shapes = std::make_shared<Counted>(
                Reference<css::drawing::XDrawPageSupplier>(sheet, UNO_QUERY_THROW)->getDrawPage()->getCount());
            out = Child(shapes);
            return 0;
        };
        m_get["UsedRange"] = [sheet, context](const std::vector<Variant>&, Variant& out) {
            out = Child(std::make_shared<UsedRange>(sheet, context));
            return 0;
        };
        m_get["PageSetup"] = [model, sheet](const std::vector<Variant>&, Variant& out) {
            OUString styleName = Reference<css::beans::XPropertySet>(sheet, UNO_QUERY_THROW)
                                     ->getPropertyValue("PageStyle")
                                     .get<OUString>();
            Reference<css::container::XNameAccess> styles(
                Reference<css::style::XStyleFamiliesSupplier>(model, UNO_QUERY_THROW)
                    ->getStyleFamilies()
                    ->getByName("PageStyles"),
                UNO_QUERY_THROW);
            out = Child(std::make_shared<PageSetup>(
                Reference<css::beans::XPropertySet>(styles->getByName(styleName), UNO_QUERY_THROW)));
            return 0;
        };
    }

private:
    struct Counted : OfficeObject {
        explicit Counted(int32_t count) {
            m_get["Count"] = [count](const std::vector<Variant>&, Variant& out) {
                out = Variant::Int(count);
                return 0;
            };
        }
    };
};

class SheetList : public OfficeObject {
public:
    SheetList(Reference<css::frame::XModel> model, std::vector<bool> charts, Context context) {
        Reference<css::container::XIndexAccess> sheets(
            Reference<css::sheet::XSpreadsheetDocument>(model, UNO_QUERY_THROW)->getSheets(), UNO_QUERY_THROW);
        m_get["Count"] = [sheets](const std::vector<Variant>&, Variant& out) {
            out = Variant::Int(sheets->getCount());
            return 0;
        };
        m_get["Item"] = [model, sheets, charts, context](const std::vector<Variant>& args, Variant& out) {
            int32_t i = 0;
            if (args.empty() || !VariantToInt32(args[0], i) || i < 1 || i > sheets->getCount())
                return static_cast<int32_t>(0x8002000B);  // DISP_E_BADINDEX
            bool chart = static_cast<size_t>(i) <= charts.size() && charts[static_cast<size_t>(i) - 1];
            out = Child(std::make_shared<Sheet>(
                model, Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(i - 1), UNO_QUERY_THROW), chart,
                context));
            return 0;
        };
    }
};

class Workbook : public OfficeDocument {
public:
    Workbook(std::shared_ptr<OfficeInstance> office, Reference<css::frame::XModel> model, std::vector<bool> charts)
        : OfficeDocument(std::move(office), std::move(model), "calc_pdf_Export", 1) {
        // The workbook is never stored: no undo record of each change (a row-height change
        // would copy the sheet's row heights into one).
        Reference<css::beans::XPropertySet> settings(m_model, css::uno::UNO_QUERY);
        if (settings.is() && settings->getPropertySetInfo()->hasPropertyByName("IsUndoEnabled"))
            settings->setPropertyValue("IsUndoEnabled", Any(false));
        auto list = std::make_shared<SheetList>(m_model, std::move(charts), m_office->context());
        for (const char* name : {"Sheets", "Worksheets"})
            m_get[name] = [list](const std::vector<Variant>&, Variant& out) {
                out = Child(list);
                return 0;
            };
    }
};

}  // namespace

std::shared_ptr<DispatchTarget> NewWorkbook(std::shared_ptr<OfficeInstance> office, Reference<css::frame::XModel> model,
                                            std::vector<bool> chartSheets) {
    return std::make_shared<Workbook>(std::move(office), std::move(model), std::move(chartSheets));
}

}  // namespace parlux::libreoffice
