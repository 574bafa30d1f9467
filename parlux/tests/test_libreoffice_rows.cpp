// Row heights of a workbook on LibreOffice, through the same dispatch calls the worker makes:
// read for all rows at once, Null when rows differ, set on the whole range in one put, and rows
// of different heights changed together.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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

// A workbook opened on a private LibreOffice through the worker's dispatch calls.
class LibreOfficeRows : public ::testing::Test {
protected:
    void Open(const std::string& source) {
        const char* tmp = std::getenv("TMPDIR");
        setenv("XDG_CACHE_HOME", (std::string(tmp ? tmp : "/tmp") + "/lo-cache").c_str(), 1);
        std::string error;
        ASSERT_GE(CreateApplication("Excel.Application", ClassEntry{"libreoffice", "soffice.bin"}, m_app, error), 0) << error;
        ASSERT_GE(openWorkbook(m_app, source, m_book, error), 0) << error;
        DispatchObject sheets = Child(m_book, "Worksheets");
        m_sheet = Child(sheets, "Item", {Variant::Int(1)});
    }
    void TearDown() override {
        if (m_book.valid()) {
            EXPECT_GE(m_book.callMethod("Close", {Variant::Flag(false)}), 0);
        }
        if (m_app.valid()) {
            EXPECT_GE(m_app.callMethod("Quit", {}), 0);
        }
    }
    // The rows of the used range, as the office holds them now.
    DispatchObject Rows() {
        DispatchObject range = Child(m_sheet, "UsedRange");
        return Child(range, "Rows");
    }
    // Each row's height in points, asked of each row.
    std::vector<double> EachHeight() {
        DispatchObject rows = Rows();
        Variant count;
        EXPECT_GE(rows.getProperty("Count", {}, count), 0);
        std::vector<double> heights;
        for (int32_t r = 1; r <= count.i4; ++r) {
            DispatchObject row = Child(rows, "Item", {Variant::Int(r)});
            heights.push_back(Points(row));
        }
        return heights;
    }
    DispatchObject m_app, m_book, m_sheet;
};

TEST_F(LibreOfficeRows, HeightsOfAllRowsAreReadAtOnceAndSetOnTheWholeRange) {
    SKIP_WITHOUT_CORPUS("office", "row heights of a real workbook with rows of different heights");
    ASSERT_NO_FATAL_FAILURE(Open(kit_testing::CorpusDir("office") + "/xlsx-merged-cells-cyrillic.xlsx"));
    DispatchObject rows = Rows();
    Variant count;
    ASSERT_GE(rows.getProperty("Count", {}, count), 0);
    ASSERT_GE(count.i4, 3);

    ASSERT_GE(rows.putProperty("RowHeight", Variant::Real(15)), 0);  // one put for the range
    EXPECT_NEAR(Points(rows), 15, 0.03);
    DispatchObject second = Child(rows, "Item", {Variant::Int(2)});
    ASSERT_GE(second.putProperty("RowHeight", Variant::Real(30)), 0);
    EXPECT_EQ(Height(rows).type, VarType::Null);  // rows differ: no single height
    // Each row grows by the margin, the taller one too.
    ASSERT_GE(adjustRowHeights(m_sheet, true, 2.5), 0);
    DispatchObject first = Child(rows, "Item", {Variant::Int(1)}), last = Child(rows, "Item", {count});
    EXPECT_NEAR(Points(first), 17.5, 0.03);
    EXPECT_NEAR(Points(second), 32.5, 0.03);
    EXPECT_NEAR(Points(last), 17.5, 0.03);
    // A uniform height near the maximum stops at 409 points.
    ASSERT_GE(rows.putProperty("RowHeight", Variant::Real(408)), 0);
    ASSERT_GE(adjustRowHeights(m_sheet, true, 2.5), 0);
    EXPECT_NEAR(Points(rows), 409, 0.03);
}

TEST_F(LibreOfficeRows, RowsOfDifferentHeightsEachGrowByTheMargin) {
    ASSERT_NO_FATAL_FAILURE(Open(std::string(OFFICE_FIXTURES_DIR) + "/rows.xlsx"));
    std::vector<double> before = EachHeight();
    ASSERT_EQ(before.size(), 40u);
    DispatchObject rows = Rows();
    EXPECT_EQ(Height(rows).type, VarType::Null);
    EXPECT_GT(before[25], 406.5);  // just under the largest height
    ASSERT_GE(adjustRowHeights(m_sheet, true, 2.5), 0);
    std::vector<double> after = EachHeight();
    ASSERT_EQ(after.size(), before.size());
    for (size_t r = 0; r < before.size(); ++r) {
        double expected = before[r] > 0 && before[r] < 409 ? std::min(before[r] + 2.5, 409.0) : before[r];
        EXPECT_NEAR(after[r], expected, 0.03) << "row " << r + 1;
    }
    // The whole range read at once agrees with the rows asked one by one.
    Variant all;
    rows = Rows();
    ASSERT_GE(rows.getProperty("RowHeights", {}, all), 0);
    ASSERT_EQ(all.elements.size(), after.size());
    for (size_t r = 0; r < after.size(); ++r) EXPECT_NEAR(all.elements[r].r8, after[r], 0.03) << "row " << r + 1;
}

}  // namespace
}  // namespace parlux
