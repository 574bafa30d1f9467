// Makes the office documents the LibreOffice tests convert, with a private LibreOffice:
// a .docx with tracked insertions and deletions, a sheet seven pages wide at full size, a sheet
// whose rows differ in height, a workbook with a padded package part, and a .doc and an .xls
// encrypted with a password.
// Usage: make_office_fixtures DIRECTORY
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/embed/ElementModes.hpp>
#include <com/sun/star/embed/StorageFactory.hpp>
#include <com/sun/star/embed/StorageFormats.hpp>
#include <com/sun/star/embed/XStorage.hpp>
#include <com/sun/star/embed/XTransactedObject.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/XStream.hpp>
#include <com/sun/star/io/XTruncate.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <openssl/md5.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "backends/libreoffice/office_instance.h"
#include "backends/libreoffice/office_objects.h"
#include "backends/libreoffice/uno_text.h"

using namespace parlux::libreoffice;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace {

Reference<css::lang::XComponent> NewDocument(OfficeInstance& office, const char* factory) {
    Reference<css::frame::XComponentLoader> loader(office.desktop(), UNO_QUERY_THROW);
    css::beans::PropertyValue hidden = Property("Hidden", Any(true));
    return loader->loadComponentFromURL(OUString::createFromAscii(factory), "_blank", 0,
                                        Sequence<css::beans::PropertyValue>(&hidden, 1));
}

// The key of the binary formats' RC4 encryption (Office 97/2000): MD5 over sixteen copies of the
// first five bytes of MD5(password in UTF-16LE) followed by the salt. The legacy filters take it
// with its salt as encryption data.
Sequence<css::beans::NamedValue> Std97EncryptionData(const std::string& password) {
    std::vector<unsigned char> utf16;
    for (char c : password) utf16.insert(utf16.end(), {static_cast<unsigned char>(c), 0});
    unsigned char h0[MD5_DIGEST_LENGTH], salt[16], key[MD5_DIGEST_LENGTH];
    MD5(utf16.data(), utf16.size(), h0);
    RAND_bytes(salt, sizeof salt);
    std::vector<unsigned char> buffer;
    for (int i = 0; i < 16; ++i) {
        buffer.insert(buffer.end(), h0, h0 + 5);
        buffer.insert(buffer.end(), salt, salt + 16);
    }
    MD5(buffer.data(), buffer.size(), key);
    auto bytes = [](const unsigned char* p, size_t n) {
        return Sequence<sal_Int8>(reinterpret_cast<const sal_Int8*>(p), static_cast<sal_Int32>(n));
    };
    Sequence<css::beans::NamedValue> data(2);
    data[0] = css::beans::NamedValue("STD97EncryptionKey", Any(bytes(key, sizeof key)));
    data[1] = css::beans::NamedValue("STD97UniqueID", Any(bytes(salt, sizeof salt)));
    return data;
}

void Store(const Reference<css::lang::XComponent>& document, const std::string& path, const char* filter,
           const char* password = nullptr) {
    std::vector<css::beans::PropertyValue> args{Property("FilterName", Any(OUString::createFromAscii(filter))),
                                                Property("Overwrite", Any(true))};
    if (password) args.push_back(Property("EncryptionData", Any(Std97EncryptionData(password))));
    Reference<css::frame::XStorable> storable(document, UNO_QUERY_THROW);
    storable->storeToURL(FileUrl(path),
                         Sequence<css::beans::PropertyValue>(args.data(), static_cast<sal_Int32>(args.size())));
    Reference<css::util::XCloseable>(document, UNO_QUERY_THROW)->close(true);
}

Reference<css::text::XText> TextOf(const Reference<css::lang::XComponent>& document) {
    return Reference<css::text::XTextDocument>(document, UNO_QUERY_THROW)->getText();
}

// "Kept text." stays, "Deleted words." is a tracked deletion, "Inserted words." a tracked insertion.
void TrackedChanges(OfficeInstance& office, const std::string& path) {
    auto document = NewDocument(office, "private:factory/swriter");
    auto text = TextOf(document);
    text->setString("Kept text. Deleted words. Closing text.");
    Reference<css::beans::XPropertySet>(document, UNO_QUERY_THROW)->setPropertyValue("RecordChanges", Any(true));
    auto cursor = text->createTextCursor();
    cursor->gotoStart(false);
    cursor->goRight(11, false);
    cursor->goRight(15, true);
    cursor->setString("");
    cursor->gotoEnd(false);
    text->insertString(Reference<css::text::XTextRange>(cursor, UNO_QUERY_THROW), " Inserted words.", false);
    Store(document, path, "MS Word 2007 XML");
}

void WideSheet(OfficeInstance& office, const std::string& path) {
    auto document = NewDocument(office, "private:factory/scalc");
    Reference<css::container::XIndexAccess> sheets(
        Reference<css::sheet::XSpreadsheetDocument>(document, UNO_QUERY_THROW)->getSheets(), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(0), UNO_QUERY_THROW);
    const sal_Int32 columns = 64;  // LibreOffice scales down to 10 % at the most
    Sequence<Sequence<Any>> rows(2);
    for (sal_Int32 r = 0; r < 2; ++r) {
        Sequence<Any> row(columns);
        for (sal_Int32 c = 0; c < columns; ++c)
            row[c] = r == 0 ? Any(FromUtf8("Column " + std::to_string(c + 1))) : Any(double(c * 10));
        rows[r] = row;
    }
    Reference<css::sheet::XCellRangeData> range(sheet->getCellRangeByPosition(0, 0, columns - 1, 1), UNO_QUERY_THROW);
    range->setDataArray(rows);
    Store(document, path, "Calc MS Excel 2007 XML");
}

// Forty rows of content whose heights differ: runs of one height, alternating heights, a hidden
// row and one just under the largest height (in 1/100 mm).
void RowsOfManyHeights(OfficeInstance& office, const std::string& path) {
    auto document = NewDocument(office, "private:factory/scalc");
    Reference<css::container::XIndexAccess> sheets(
        Reference<css::sheet::XSpreadsheetDocument>(document, UNO_QUERY_THROW)->getSheets(), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(0), UNO_QUERY_THROW);
    const sal_Int32 count = 40;
    Reference<css::container::XIndexAccess> rows(
        Reference<css::table::XColumnRowRange>(sheet, UNO_QUERY_THROW)->getRows(), UNO_QUERY_THROW);
    for (sal_Int32 r = 0; r < count; ++r) {
        sheet->getCellByPosition(0, r)->setFormula(FromUtf8("Row " + std::to_string(r + 1)));
        Reference<css::beans::XPropertySet> row(rows->getByIndex(r), UNO_QUERY_THROW);
        sal_Int32 height = r < 10 ? 500 : r < 20 ? (r % 2 ? 600 : 900) : r == 25 ? 14380 : 450;
        row->setPropertyValue("Height", Any(height));
        if (r == 22) row->setPropertyValue("IsVisible", Any(false));
    }
    Store(document, path, "Calc MS Excel 2007 XML");
}

// A small workbook whose xl/workbook.xml is padded with `padding` blanks before its closing tag:
// a few hundred kilobytes on disk, far more once inflated.
void PaddedWorkbook(OfficeInstance& office, const std::string& path, size_t padding) {
    auto document = NewDocument(office, "private:factory/scalc");
    Reference<css::container::XIndexAccess> sheets(
        Reference<css::sheet::XSpreadsheetDocument>(document, UNO_QUERY_THROW)->getSheets(), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW)->getCellByPosition(0, 0)->setFormula("Padded");
    Store(document, path, "Calc MS Excel 2007 XML");

    css::beans::PropertyValue zip = Property("StorageFormat", Any(css::embed::StorageFormats::ZIP));
    const Any args[] = {Any(FileUrl(path)), Any(css::embed::ElementModes::READWRITE),
                        Any(Sequence<css::beans::PropertyValue>(&zip, 1))};
    Reference<css::embed::XStorage> root(
        css::embed::StorageFactory::create(office.context())->createInstanceWithArguments(Sequence<Any>(args, 3)),
        UNO_QUERY_THROW);
    Reference<css::embed::XStorage> xl = root->openStorageElement("xl", css::embed::ElementModes::READWRITE);
    Reference<css::io::XStream> part = xl->openStreamElement("workbook.xml", css::embed::ElementModes::READWRITE);
    std::string text;
    Sequence<sal_Int8> chunk;
    while (part->getInputStream()->readBytes(chunk, 65536) > 0)
        text.append(reinterpret_cast<const char*>(chunk.getConstArray()), static_cast<size_t>(chunk.getLength()));
    size_t end = text.rfind("</");
    if (end == std::string::npos) throw css::uno::RuntimeException("xl/workbook.xml has no closing tag");
    Reference<css::io::XTruncate>(part, UNO_QUERY_THROW)->truncate();
    Reference<css::io::XOutputStream> out = part->getOutputStream();
    auto write = [&out](const char* bytes, size_t size) {
        out->writeBytes(Sequence<sal_Int8>(reinterpret_cast<const sal_Int8*>(bytes), static_cast<sal_Int32>(size)));
    };
    write(text.data(), end);
    const std::string blanks(1 << 20, ' ');
    for (size_t left = padding; left > 0; left -= std::min(left, blanks.size())) write(blanks.data(), std::min(left, blanks.size()));
    write(text.data() + end, text.size() - end);
    out->closeOutput();
    Reference<css::embed::XTransactedObject>(xl, UNO_QUERY_THROW)->commit();
    Reference<css::embed::XTransactedObject>(root, UNO_QUERY_THROW)->commit();
    Reference<css::lang::XComponent>(root, UNO_QUERY_THROW)->dispose();
}

void ProtectedDocument(OfficeInstance& office, const std::string& path) {
    auto document = NewDocument(office, "private:factory/swriter");
    TextOf(document)->setString("Secret text.");
    Store(document, path, "MS Word 97", "fixture-password");
}

void ProtectedWorkbook(OfficeInstance& office, const std::string& path) {
    auto document = NewDocument(office, "private:factory/scalc");
    Reference<css::container::XIndexAccess> sheets(
        Reference<css::sheet::XSpreadsheetDocument>(document, UNO_QUERY_THROW)->getSheets(), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(0), UNO_QUERY_THROW);
    sheet->getCellByPosition(0, 0)->setFormula("Secret cell");
    Store(document, path, "MS Excel 97", "fixture-password");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_office_fixtures DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    OfficeInstance office;
    std::string error;
    if (office.Start(error) != 0) {
        std::fprintf(stderr, "cannot start LibreOffice: %s\n", error.c_str());
        return 1;
    }
    int status = 0;
    try {
        TrackedChanges(office, dir + "/tracked.docx");
        WideSheet(office, dir + "/wide.xlsx");
        RowsOfManyHeights(office, dir + "/rows.xlsx");
        PaddedWorkbook(office, dir + "/padded.xlsx", kMaxPackagePartBytes + 4096);
        ProtectedDocument(office, dir + "/secret.doc");
        ProtectedWorkbook(office, dir + "/secret.xls");
    } catch (const css::uno::Exception& e) {
        std::fprintf(stderr, "LibreOffice failed: %s\n", ToUtf8(e.Message).c_str());
        status = 1;
    }
    office.Quit();
    return status;
}
