// The automation layer and the document operations against a scripted object model.
#include <gtest/gtest.h>

#include "automation/document_ops.h"
#include "backends/fake/script_object.h"

using namespace parlux;
using parlux::fake::ScriptObject;

namespace {

using Log = std::vector<std::string>;

class AutomationTest : public ::testing::Test {
protected:
    std::shared_ptr<Log> m_log = std::make_shared<Log>();
    std::shared_ptr<ScriptObject> Make(const std::string& name) { return std::make_shared<ScriptObject>(name, m_log); }
    bool Logged(const std::string& line) { return std::find(m_log->begin(), m_log->end(), line) != m_log->end(); }

    // A workbook of sheets made by `sheet(i)`.
    std::shared_ptr<ScriptObject> Workbook(const std::vector<std::shared_ptr<ScriptObject>>& sheets) {
        auto book = Make("book");
        for (const char* collection : {"Sheets", "Worksheets"}) {
            auto list = book->Child(collection, collection);
            list->properties["Count"] = Variant::Int(static_cast<int32_t>(sheets.size()));
            list->methods["Item"] = [sheets](const std::vector<Variant>& args, Variant& out) {
                out = Variant::Object(sheets.at(static_cast<size_t>(args.at(0).i4 - 1)));
                return 0;
            };
        }
        return book;
    }
    std::shared_ptr<ScriptObject> Sheet(const std::string& name, Variant formula, int shapes = 0) {
        auto sheet = Make(name);
        sheet->properties["Type"] = Variant::Int(kWorksheetType);
        sheet->Child("Shapes", name + ".Shapes")->properties["Count"] = Variant::Int(shapes);
        sheet->Child("UsedRange", name + ".UsedRange")->properties["Formula"] = formula;
        sheet->Child("PageSetup", name + ".PageSetup");
        return sheet;
    }
};

TEST_F(AutomationTest, DispatchCallsCarryExceptionsAndConversions) {
    auto obj = Make("app");
    obj->failures["Boom"] = {static_cast<int32_t>(0x800A1520), "The password is incorrect."};
    DispatchObject app(obj);
    Variant out;
    EXPECT_EQ(app.callMethod("Boom", {}, &out), static_cast<int32_t>(0x800A1520));
    EXPECT_EQ(app.lastErrorText(), "The password is incorrect.");
    EXPECT_EQ(app.getProperty("Nothing", {}, out), kDispEUnknownName);
    EXPECT_EQ(app.lastErrorText(), "");  // cleared by every call
    DispatchObject none;
    EXPECT_EQ(none.getProperty("Visible", {}, out), kEPointer);
    EXPECT_EQ(app.putProperty("Visible", Variant::Flag(false)), 0);
    EXPECT_EQ(obj->properties["Visible"].boolean, false);

    DispatchObject target;
    EXPECT_EQ(DispatchObject::toDispatch(Variant::Object(nullptr), target), kENoInterface);
    EXPECT_EQ(DispatchObject::toDispatch(Variant::Int(3), target), kDispETypeMismatch);
    EXPECT_EQ(DispatchObject::toDispatch(Variant::Object(obj), target), 0);

    int32_t i = 0;
    double d = 0;
    EXPECT_TRUE(VariantToInt32(Variant::Real(2.5), i));
    EXPECT_EQ(i, 2);
    EXPECT_TRUE(VariantToInt32(Variant::Real(3.5), i));
    EXPECT_EQ(i, 4);
    EXPECT_TRUE(VariantToInt32(Variant::Text(" 12 "), i));
    EXPECT_EQ(i, 12);
    EXPECT_FALSE(VariantToInt32(Variant::Text("12 apples"), i));
    EXPECT_TRUE(VariantToInt32(Variant(), i));
    EXPECT_EQ(i, 0);
    EXPECT_TRUE(VariantToInt32(Variant::Flag(true), i));
    EXPECT_EQ(i, -1);
    EXPECT_FALSE(VariantToInt32(Variant::NullValue(), i));
    EXPECT_FALSE(VariantToInt32(Variant::Real(3e9), i));
    EXPECT_FALSE(VariantToDouble(Variant(), d));
    EXPECT_FALSE(VariantToDouble(Variant::NullValue(), d));
    EXPECT_TRUE(VariantToDouble(Variant::Int(15), d));
    EXPECT_EQ(d, 15.0);
}

TEST_F(AutomationTest, OpeningPassesTheExactArgumentsAndRecognisesPasswords) {
    auto app = Make("word");
    auto docs = app->Child("Documents", "Documents");
    auto doc = Make("doc");
    docs->methods["Open"] = [doc](const std::vector<Variant>&, Variant& out) {
        out = Variant::Object(doc);
        return 0;
    };
    DispatchObject wordApp(app), opened;
    std::string error;
    ASSERT_EQ(openWordDocument(wordApp, "/d/r.docx", opened, error), 0);
    EXPECT_TRUE(Logged("Documents.Open(\"/d/r.docx\",false,true,false,\"\",\"\",false,\"\",\"\",missing,missing,false,"
                       "true,missing,true,missing)"));
    EXPECT_EQ(opened.target(), doc.get());

    auto excel = Make("excel");
    auto books = excel->Child("Workbooks", "Workbooks");
    books->failures["Open"] = {static_cast<int32_t>(0x800A03EC), "文件已加密，需要密码"};
    DispatchObject excelApp(excel), book;
    int32_t hr = openWorkbook(excelApp, "/d/b.xlsx", book, error);
    EXPECT_EQ(hr, static_cast<int32_t>(0x800A03EC));
    EXPECT_TRUE(Logged("Workbooks.Open(\"/d/b.xlsx\",0,true,missing,\"\",\"\",true)"));
    EXPECT_EQ(error, "文件已加密，需要密码");
    EXPECT_TRUE(isPasswordError(hr, error));
    EXPECT_TRUE(isPasswordError(kPasswordErrorHr, "anything"));
    EXPECT_TRUE(isPasswordError(1, "The document is ENCRYPTED"));
    EXPECT_FALSE(isPasswordError(static_cast<int32_t>(0x800A13E9), "The file was not found"));
}

TEST_F(AutomationTest, FinalRevisionViewPerSuite) {
    auto doc = Make("doc");
    auto window = doc->Child("ActiveWindow", "window");
    auto view = window->Child("View", "view");
    auto filter = view->Child("RevisionsFilter", "filter");
    DispatchObject d(doc);
    ASSERT_EQ(configureFinalRevisionView(Provider::Microsoft, d), 0);
    EXPECT_TRUE(Logged("filter.Markup=0"));
    EXPECT_TRUE(Logged("filter.View=0"));
    EXPECT_TRUE(Logged("view.ShowRevisionsAndComments=false"));
    view->properties.erase("RevisionsFilter");
    m_log->clear();
    ASSERT_EQ(configureFinalRevisionView(Provider::Microsoft, d), 0);
    EXPECT_TRUE(Logged("view.RevisionsView=0"));

    auto pane = window->Child("ActivePane", "pane");
    auto paneView = pane->Child("View", "paneView");
    m_log->clear();
    ASSERT_EQ(configureFinalRevisionView(Provider::Wps, d), 0);
    EXPECT_TRUE(Logged("paneView.RevisionsView=0"));
    EXPECT_TRUE(Logged("paneView.ShowRevisionsAndComments=false"));
    paneView->failures["RevisionsView"] = {kEFail, "no"};
    EXPECT_EQ(configureFinalRevisionView(Provider::Wps, d), kEFail);
}

TEST_F(AutomationTest, WorkbookContentRules) {
    bool has = true;
    DispatchObject empty(Workbook({Sheet("s1", Variant::Text(""))}));
    ASSERT_EQ(workbookHasContent(empty, has), 0);
    EXPECT_FALSE(has);  // a used range of one empty cell
    DispatchObject picture(Workbook({Sheet("s1", Variant(), 1)}));
    ASSERT_EQ(workbookHasContent(picture, has), 0);
    EXPECT_TRUE(has);
    auto chart = Make("chart");
    chart->properties["Type"] = Variant::Int(3);
    DispatchObject withChart(Workbook({Sheet("s1", Variant()), chart}));
    ASSERT_EQ(workbookHasContent(withChart, has), 0);
    EXPECT_TRUE(has);
    Variant grid;
    grid.type = VarType::Array;
    grid.bounds = {{1, 2}, {1, 2}};
    grid.elements = {Variant(), Variant::Text(""), Variant(), Variant::Text("=A1+1")};
    DispatchObject formula(Workbook({Sheet("s1", grid)}));
    ASSERT_EQ(workbookHasContent(formula, has), 0);
    EXPECT_TRUE(has);

    Variant nullArray;
    nullArray.type = VarType::Array;
    nullArray.nullArray = true;
    EXPECT_FALSE(variantHasContent(nullArray));
    Variant numbers;
    numbers.type = VarType::Array;
    numbers.elementType = VarType::R8;
    numbers.bounds = {{1, 3}};
    EXPECT_TRUE(variantHasContent(numbers));
    numbers.bounds = {{2, 1}};
    EXPECT_FALSE(variantHasContent(numbers));
    EXPECT_TRUE(variantHasContent(Variant::Real(0)));
    EXPECT_FALSE(variantHasContent(Variant::NullValue()));

    auto broken = Sheet("s1", Variant());
    broken->failures["UsedRange"] = {kEFail, "range"};
    DispatchObject failing(Workbook({broken}));
    EXPECT_EQ(workbookHasContent(failing, has), kEFail);
}

TEST_F(AutomationTest, PrintSafeLayoutAndRowHeights) {
    auto sheet = Sheet("s1", Variant::Text("x"));
    auto rows = std::static_pointer_cast<ScriptObject>(
        std::static_pointer_cast<ScriptObject>(sheet->properties["UsedRange"].object)->Child("Rows", "rows"));
    rows->properties["RowHeight"] = Variant::Real(15);
    DispatchObject book(Workbook({sheet}));
    ASSERT_EQ(applyPrintSafeLayout(Provider::Microsoft, book), 0);
    EXPECT_TRUE(Logged("rows.RowHeight=17.5"));
    EXPECT_TRUE(Logged("s1.PageSetup.Zoom=false"));
    EXPECT_TRUE(Logged("s1.PageSetup.FitToPagesWide=1"));
    EXPECT_TRUE(Logged("s1.PageSetup.FitToPagesTall=false"));
    rows->properties["RowHeight"] = Variant::Real(408);
    DispatchObject s(sheet);
    ASSERT_EQ(adjustRowHeights(s, true, 2.5), 0);
    EXPECT_EQ(rows->properties["RowHeight"].r8, 409.0);

    // Row by row (WPS, or mixed heights): a hidden row stays hidden.
    std::vector<std::shared_ptr<ScriptObject>> each;
    for (double h : {15.0, 0.0, 409.0}) {
        auto row = Make("row" + std::to_string(each.size() + 1));
        row->properties["RowHeight"] = Variant::Real(h);
        each.push_back(row);
    }
    rows->properties["RowHeight"] = Variant::NullValue();
    rows->properties["Count"] = Variant::Int(3);
    rows->methods["Item"] = [each](const std::vector<Variant>& args, Variant& out) {
        out = Variant::Object(each.at(static_cast<size_t>(args.at(0).i4 - 1)));
        return 0;
    };
    ASSERT_EQ(adjustRowHeights(s, false, 5.0), 0);
    EXPECT_EQ(each[0]->properties["RowHeight"].r8, 20.0);
    EXPECT_EQ(each[1]->properties["RowHeight"].r8, 0.0);
    EXPECT_EQ(each[2]->properties["RowHeight"].r8, 409.0);
    EXPECT_TRUE(Logged("row1.RowHeight=20"));
    EXPECT_FALSE(Logged("row2.RowHeight=5"));

    // A back end holding every row's height as one array gets the same change in one put.
    Variant all;
    all.type = VarType::Array;
    all.elementType = VarType::R8;
    all.bounds = {{1, 4}};
    for (double h : {15.0, 0.0, 408.0, 409.0}) all.elements.push_back(Variant::Real(h));
    rows->properties["RowHeights"] = all;
    each[0]->properties["RowHeight"] = Variant::Real(1);
    ASSERT_EQ(adjustRowHeights(s, true, 2.5), 0);
    std::vector<double> after;
    for (const Variant& h : rows->properties["RowHeights"].elements) after.push_back(h.r8);
    EXPECT_EQ(after, (std::vector<double>{17.5, 0.0, 409.0, 409.0}));
    EXPECT_EQ(each[0]->properties["RowHeight"].r8, 1.0);  // no row by row
    rows->properties["RowHeights"].elements[1] = Variant::Text("tall");
    EXPECT_EQ(adjustRowHeights(s, true, 2.5), kDispETypeMismatch);
}

TEST_F(AutomationTest, ExportArguments) {
    auto doc = Make("doc");
    doc->methods["ExportAsFixedFormat"] = [](const std::vector<Variant>&, Variant&) { return 0; };
    DispatchObject d(doc);
    ASSERT_EQ(exportWordPdf(Provider::Wps, d, "/t/plx12345.pdf"), 0);
    EXPECT_TRUE(Logged("doc.ExportAsFixedFormat(\"/t/plx12345.pdf\",17,false,0,0,0,0,0,true,true,1,true,true,false)"));
    ASSERT_EQ(exportWordPdf(Provider::Microsoft, d, "/t/a.pdf"), 0);
    EXPECT_TRUE(Logged("doc.ExportAsFixedFormat(\"/t/a.pdf\",17,false,0,0,0,0,0,true,true,0,true,true,false)"));
    auto book = Make("book");
    book->methods["ExportAsFixedFormat"] = [](const std::vector<Variant>&, Variant&) { return 0; };
    DispatchObject b(book);
    ASSERT_EQ(exportWorkbookPdf(b, "/t/b.pdf"), 0);
    EXPECT_TRUE(Logged("book.ExportAsFixedFormat(0,\"/t/b.pdf\",0,true,false)"));
}

}  // namespace
