// The Word and Excel objects the converter calls, carried out on a private LibreOffice.
#pragma once

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch.h"
#include "backends/libreoffice/office_instance.h"
#include "backends/libreoffice/uno_text.h"
#include "providers.h"

namespace parlux::libreoffice {

// An object answering by name from tables of getters, putters and methods; a UNO exception
// becomes DISP_E_EXCEPTION with its message as the description.
// One named argument of a media descriptor or filter.
css::beans::PropertyValue Property(const char* name, const css::uno::Any& value);

class OfficeObject : public DispatchTarget {
public:
    using Getter = std::function<int32_t(const std::vector<Variant>& args, Variant& value)>;
    using Putter = std::function<int32_t(const Variant& value)>;
    using Method = std::function<int32_t(const std::vector<Variant>& args, Variant& value)>;

    int32_t Invoke(const std::string& name, InvokeKind kind, const std::vector<Variant>& args, Variant& result,
                   ExceptionInfo& exception) override;

protected:
    std::map<std::string, Getter> m_get;
    std::map<std::string, Putter> m_put;
    std::map<std::string, Method> m_call;
    // Set by a member that fails with its own description.
    std::string m_failure;
};

// The PDF filter's settings for the arguments of an "ExportAsFixedFormat" call.
using ExportOptions = std::function<css::uno::Sequence<css::beans::PropertyValue>(const std::vector<Variant>& args)>;
css::uno::Sequence<css::beans::PropertyValue> PdfFilterData(
    const std::vector<std::pair<const char*, css::uno::Any>>& settings);

// A loaded document: "ExportAsFixedFormat" stores it as PDF with `pdfFilter` and the settings
// `options` gives, the target path being argument `pathArgument`; "Close" and destruction close it.
class OfficeDocument : public OfficeObject {
public:
    OfficeDocument(std::shared_ptr<OfficeInstance> office, css::uno::Reference<css::frame::XModel> model,
                   const char* pdfFilter, size_t pathArgument, ExportOptions options = nullptr);
    ~OfficeDocument() override;

protected:
    std::shared_ptr<OfficeInstance> m_office;
    css::uno::Reference<css::frame::XModel> m_model;
    std::string m_dir;  // the document's private directory, removed with it
};

// The private copy of `path` that the office opens, named "source" and an ASCII extension, in
// the directory of the document being opened.
std::string PrivateCopyPath(const OfficeInstance& office, const std::string& path);
// LibreOffice writes lock files beside what it opens: it opens a private copy of the document,
// made at PrivateCopyPath (`copy`).
int32_t CopyPrivately(OfficeInstance& office, const std::string& path, std::string& copy, std::string& error);
// Loads the private copy `copy` hidden, without macros, link updates or dialogs (`repair`:
// LibreOffice's package repair); a password request or an import filter other than
// `acceptedFilters` is a failure with its description.
int32_t LoadDocument(OfficeInstance& office, const std::string& copy, bool readOnly, bool repair,
                     const std::vector<std::string>& acceptedFilters, css::uno::Reference<css::frame::XModel>& model,
                     std::string& error);
// Stores `model` as PDF with `filter` in the office's private directory, then copies it into
// the temporary file `path` that the parent created.
int32_t ExportPdf(OfficeInstance& office, const css::uno::Reference<css::frame::XModel>& model,
                  const std::string& filter, const css::uno::Sequence<css::beans::PropertyValue>& filterData,
                  const std::string& path, std::string& error);
int32_t CloseDocument(css::uno::Reference<css::frame::XModel>& model);

std::shared_ptr<DispatchTarget> NewWordDocument(std::shared_ptr<OfficeInstance> office,
                                                css::uno::Reference<css::frame::XModel> model);
// The largest package part the worker reads itself.
constexpr size_t kMaxPackagePartBytes = 64u << 20;
// Which sheets of the package `copy` are chart sheets (none for a file that is no package), read
// with the zip reader of `context`; false when a part it reads exceeds kMaxPackagePartBytes.
bool ChartSheets(const css::uno::Reference<css::uno::XComponentContext>& context, const std::string& copy,
                 std::vector<bool>& flags);
std::shared_ptr<DispatchTarget> NewWorkbook(std::shared_ptr<OfficeInstance> office,
                                            css::uno::Reference<css::frame::XModel> model,
                                            std::vector<bool> chartSheets);

// The application object (of Word and of Excel alike) on a freshly started office; an HRESULT.
int32_t CreateOfficeApplication(DispatchObject& app, std::string& error);

}  // namespace parlux::libreoffice
