// Row heights of a workbook on LibreOffice, through the same dispatch calls the worker makes:
// read for all rows at once, Null when rows differ, set on the whole range in one put.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "testing/corpus.h"
#include "automation/document_ops.h"
#include "backend.h"

// UNO keeps its type registry and string cache for the life of the process; a process that
// bootstraps it never frees them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libuno_cppu.so\nleak:libuno_sal.so\n"; }

namespace parlux {
namespace {

DispatchObject Child(DispatchObject& parent, const char* name, std::vector<Variant> args = {}) {
    Variant value;
    DispatchObject child;
    EXPECT_GE(parent.getProperty(name, args, value), 0) << name;
    EXPECT_GE(DispatchObject::toDispatch(value, child), 0) << name;
    return child;
}

Variant Height(DispatchObject& rowOrRows) {
    Variant value;
    EXPECT_GE(rowOrRows.getProperty("RowHeight", {}, value), 0);
    return value;
}

double Points(DispatchObject& row) {
    double points = -1;
    EXPECT_TRUE(VariantToDouble(Height(row), points));
    return points;
}

TEST(LibreOfficeRows, HeightsOfAllRowsAreReadAtOnceAndSetOnTheWholeRange) {
    SKIP_WITHOUT_CORPUS("office", "row heights of a real workbook with rows of different heights");
    std::string source = kit_testing::CorpusDir("office") + "/xlsx-merged-cells-cyrillic.xlsx";
    const char* tmp = std::getenv("TMPDIR");
    setenv("XDG_CACHE_HOME", (std::string(tmp ? tmp : "/tmp") + "/lo-cache").c_str(), 1);
    DispatchObject app, book;
    std::string error;
    ASSERT_GE(CreateApplication("Excel.Application", ClassEntry{"libreoffice", "soffice.bin"}, app, error), 0) << error;
    ASSERT_GE(openWorkbook(app, source, book, error), 0) << error;
    DispatchObject sheets = Child(book, "Worksheets"), sheet = Child(sheets, "Item", {Variant::Int(1)});
    DispatchObject range = Child(sheet, "UsedRange"), rows = Child(range, "Rows");
    Variant count;
    ASSERT_GE(rows.getProperty("Count", {}, count), 0);
    ASSERT_GE(count.i4, 3);

    ASSERT_GE(rows.putProperty("RowHeight", Variant::Real(15)), 0);  // one put for the range
    EXPECT_NEAR(Points(rows), 15, 0.03);
    DispatchObject second = Child(rows, "Item", {Variant::Int(2)});
    ASSERT_GE(second.putProperty("RowHeight", Variant::Real(30)), 0);
    EXPECT_EQ(Height(rows).type, VarType::Null);  // rows differ: no single height
    // Each row grows by the margin, the taller one too.
    ASSERT_GE(adjustRowHeights(sheet, true, 2.5), 0);
    DispatchObject first = Child(rows, "Item", {Variant::Int(1)}), last = Child(rows, "Item", {count});
    EXPECT_NEAR(Points(first), 17.5, 0.03);
    EXPECT_NEAR(Points(second), 32.5, 0.03);
    EXPECT_NEAR(Points(last), 17.5, 0.03);
    // A uniform height near the maximum stops at 409 points.
    ASSERT_GE(rows.putProperty("RowHeight", Variant::Real(408)), 0);
    ASSERT_GE(adjustRowHeights(sheet, true, 2.5), 0);
    EXPECT_NEAR(Points(rows), 409, 0.03);

    EXPECT_GE(book.callMethod("Close", {Variant::Flag(false)}), 0);
    EXPECT_GE(app.callMethod("Quit", {}), 0);
}

}  // namespace
}  // namespace parlux
