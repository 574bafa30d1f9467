// A Word document on LibreOffice Writer: the final view without revision marks, PDF export.
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/document/RedlineDisplayType.hpp>

#include "backends/libreoffice/office_objects.h"

namespace parlux::libreoffice {
namespace {

using css::uno::Reference;

// Window, pane, view and revision filter of Word: each setting that asks for the final view
// shows the document with insertions and without deletions (LibreOffice ignores "ShowChanges";
// its display type "inserted only" is its final view).
class ViewObject : public OfficeObject {
public:
    explicit ViewObject(std::function<int32_t()> showFinal) {
        auto finalWhenZeroOrFalse = [showFinal](const Variant& v) {
            int32_t n = 1;
            return VariantToInt32(v, n) && n == 0 ? showFinal() : 0;
        };
        for (const char* name : {"Markup", "View", "RevisionsView", "ShowRevisionsAndComments"})
            m_put[name] = finalWhenZeroOrFalse;
    }
    void Child(const char* name, std::shared_ptr<DispatchTarget> child) {
        m_get[name] = [child](const std::vector<Variant>&, Variant& out) {
            out = Variant::Object(child);
            return 0;
        };
    }
};

// Word's export arguments that LibreOffice's PDF filter has: CreateBookmarks (10) as the outline,
// DocStructureTags (11) as a tagged PDF, UseISO19005_1 (13) as PDF/A-1. Document properties are
// always exported; KeepIRM and BitmapMissingFonts have no counterpart.
css::uno::Sequence<css::beans::PropertyValue> WordExportOptions(const std::vector<Variant>& args) {
    auto flag = [&args](size_t i) {
        int32_t n = 0;
        return args.size() > i && VariantToInt32(args[i], n) && n != 0;
    };
    return PdfFilterData({{"ExportBookmarks", css::uno::Any(flag(10))},
                          {"UseTaggedPDF", css::uno::Any(flag(11))},
                          {"SelectPdfVersion", css::uno::Any(static_cast<sal_Int32>(flag(13) ? 1 : 0))}});
}

class WordDocument : public OfficeDocument {
public:
    WordDocument(std::shared_ptr<OfficeInstance> office, Reference<css::frame::XModel> model)
        : OfficeDocument(std::move(office), std::move(model), "writer_pdf_Export", 0, WordExportOptions) {
        auto showFinal = [this]() {
            Reference<css::beans::XPropertySet> props(m_model, css::uno::UNO_QUERY_THROW);
            props->setPropertyValue("RedlineDisplayType", css::uno::Any(css::document::RedlineDisplayType::INSERTED));
            return 0;
        };
        auto window = std::make_shared<ViewObject>(showFinal), pane = std::make_shared<ViewObject>(showFinal),
             view = std::make_shared<ViewObject>(showFinal), filter = std::make_shared<ViewObject>(showFinal);
        view->Child("RevisionsFilter", filter);
        pane->Child("View", view);
        window->Child("View", view);
        window->Child("ActivePane", pane);
        m_get["ActiveWindow"] = [window](const std::vector<Variant>&, Variant& out) {
            out = Variant::Object(window);
            return 0;
        };
    }
};

}  // namespace

std::shared_ptr<DispatchTarget> NewWordDocument(std::shared_ptr<OfficeInstance> office,
                                                Reference<css::frame::XModel> model) {
    return std::make_shared<WordDocument>(std::move(office), std::move(model));
}

}  // namespace parlux::libreoffice
