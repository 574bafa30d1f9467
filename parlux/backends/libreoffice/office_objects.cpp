#include "backends/libreoffice/office_objects.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <osl/file.hxx>
#include <rtl/ref.hxx>
#include <system_error>

#include "backends/libreoffice/uno_text.h"
#include "file_helpers.h"

namespace parlux::libreoffice {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

OUString FileUrl(const std::string& path) {
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(FromUtf8(path), url);
    return url;
}

css::beans::PropertyValue Property(const char* name, const Any& value) {
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

namespace {

Sequence<css::beans::PropertyValue> Properties(std::initializer_list<css::beans::PropertyValue> list) {
    std::vector<css::beans::PropertyValue> v(list);
    return Sequence<css::beans::PropertyValue>(v.data(), static_cast<sal_Int32>(v.size()));
}

// Answers every request without a dialog (abort) and remembers whether a password was asked.
class SilentInteraction : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    bool passwordRequested = false;
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
        if (!request.is()) return;
        if (cppu::UnoType<css::task::PasswordRequest>::get().isAssignableFrom(request->getRequest().getValueType()))
            passwordRequested = true;
        for (const auto& continuation : request->getContinuations()) {
            Reference<css::task::XInteractionAbort> abort(continuation, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }
};

constexpr int32_t kNotFound = static_cast<int32_t>(0x800A13EC);  // the suites' "cannot open" error
constexpr size_t kOpenAndRepairArgument = 12;

int32_t Failure(std::string& error, const std::string& text, int32_t hr = kDispEException) {
    error = text;
    return hr;
}

bool Accepted(const std::string& filter, const std::vector<std::string>& accepted) {
    for (const std::string& prefix : accepted)
        if (filter.rfind(prefix, 0) == 0) return true;
    return false;
}

// The extension of the last component when it is plain ASCII letters and digits (the private
// copy's name stays ASCII whatever bytes the user's name holds); empty otherwise.
std::string SafeExtension(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return std::string();
    for (size_t i = dot + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return std::string();
    return name.substr(dot);
}

// Copies the exported PDF into the temporary file the parent created (never replacing it or
// following a link put in its place).
int32_t CopyIntoTempOutput(const std::string& exported, const std::string& path, std::string& error) {
    int in = open(exported.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return Failure(error, "LibreOffice wrote no PDF.");
    int out = openTempOutputForWriting(path);
    if (out < 0) {
        close(in);
        return Failure(error, "The temporary PDF is not the file this conversion created.");
    }
    char buffer[65536];
    ssize_t n = 0;
    bool ok = true;
    while (ok && (n = read(in, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    std::string reason = ok ? std::string() : std::strerror(errno);
    close(in);
    if (close(out) != 0 && ok) ok = false, reason = std::strerror(errno);
    return ok ? 0 : Failure(error, "Unable to write the PDF: " + reason + ".");
}

}  // namespace

int32_t OfficeObject::Invoke(const std::string& name, InvokeKind kind, const std::vector<Variant>& args,
                             Variant& result, ExceptionInfo& exception) {
    m_failure.clear();
    int32_t hr = kDispEUnknownName;
    try {
        if (kind == kPropertyGet) {
            auto g = m_get.find(name);
            if (g != m_get.end()) hr = g->second(args, result);
        } else if (kind == kPropertyPut) {
            auto p = m_put.find(name);
            if (p != m_put.end()) hr = args.empty() ? kDispEParamNotFound : p->second(args[0]);
        } else {
            auto c = m_call.find(name);
            if (c != m_call.end()) hr = c->second(args, result);
        }
    } catch (const css::uno::Exception& e) {
        m_failure = ToUtf8(e.Message);
        if (m_failure.empty()) m_failure = "LibreOffice reported an error in " + name + ".";
        hr = kDispEException;
    }
    if (hr < 0 && !m_failure.empty()) {
        exception.description = m_failure;
        exception.scode = hr;
        return hr == kDispEException ? hr : kDispEException;
    }
    return hr;
}

std::string PrivateCopyPath(const OfficeInstance& office, const std::string& path) {
    return office.documentDir() + "/source" + SafeExtension(path);
}

int32_t CopyPrivately(OfficeInstance& office, const std::string& path, std::string& copy, std::string& error) {
    copy = PrivateCopyPath(office, path);
    std::error_code ec;
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? Failure(error, "Unable to read the source document: " + ec.message() + ".", kNotFound) : 0;
}

int32_t LoadDocument(OfficeInstance& office, const std::string& copy, bool readOnly, bool repair,
                     const std::vector<std::string>& acceptedFilters, Reference<css::frame::XModel>& model,
                     std::string& error) {
    rtl::Reference<SilentInteraction> interaction(new SilentInteraction);
    Sequence<css::beans::PropertyValue> args = Properties({
        Property("Hidden", Any(true)),
        Property("ReadOnly", Any(readOnly)),
        Property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        Property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        Property("InteractionHandler", Any(Reference<css::task::XInteractionHandler>(interaction.get()))),
        Property("RepairPackage", Any(repair)),
    });
    Reference<css::lang::XComponent> component;
    std::string reason;
    try {
        Reference<css::frame::XComponentLoader> loader(office.desktop(), UNO_QUERY_THROW);
        component = loader->loadComponentFromURL(FileUrl(copy), "_blank", 0, args);
    } catch (const css::uno::Exception& e) {
        reason = ToUtf8(e.Message);
    }
    model.set(component, UNO_QUERY);
    if (interaction->passwordRequested) {
        CloseDocument(model);
        return Failure(error, "The document is password protected.", kPasswordErrorHr);
    }
    if (!model.is())
        return Failure(error, "LibreOffice could not open the document" + (reason.empty() ? "" : ": " + reason) + ".",
                       kNotFound);
    std::string filter;
    for (const auto& p : model->getArgs())
        if (p.Name == "FilterName") filter = ToUtf8(p.Value.get<OUString>());
    if (!Accepted(filter, acceptedFilters)) {
        CloseDocument(model);
        return Failure(error, "The file is not a document of the expected kind (read as \"" + filter + "\").", kNotFound);
    }
    return 0;
}

int32_t ExportPdf(OfficeInstance& office, const Reference<css::frame::XModel>& model, const std::string& filter,
                  const Sequence<css::beans::PropertyValue>& filterData, const std::string& path, std::string& error) {
    std::string exported = office.documentDir() + "/export.pdf";
    Reference<css::frame::XStorable> storable(model, UNO_QUERY);
    if (!storable.is()) return Failure(error, "The document cannot be exported.");
    Sequence<css::beans::PropertyValue> args = Properties({Property("FilterName", Any(FromUtf8(filter))),
                                                           Property("FilterData", Any(filterData)),
                                                           Property("Overwrite", Any(true))});
    storable->storeToURL(FileUrl(exported), args);
    int32_t hr = CopyIntoTempOutput(exported, path, error);
    unlink(exported.c_str());
    return hr;
}

Sequence<css::beans::PropertyValue> PdfFilterData(const std::vector<std::pair<const char*, Any>>& settings) {
    Sequence<css::beans::PropertyValue> data(static_cast<sal_Int32>(settings.size()));
    for (size_t i = 0; i < settings.size(); ++i) data.getArray()[i] = Property(settings[i].first, settings[i].second);
    return data;
}

int32_t CloseDocument(Reference<css::frame::XModel>& model) {
    if (!model.is()) return 0;
    int32_t hr = 0;
    try {
        Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (closeable.is()) closeable->close(true);
    } catch (const css::uno::Exception&) {
        hr = kEFail;
    }
    model.clear();
    return hr;
}

OfficeDocument::OfficeDocument(std::shared_ptr<OfficeInstance> office, Reference<css::frame::XModel> model,
                               const char* pdfFilter, size_t pathArgument, ExportOptions options)
    : m_office(std::move(office)), m_model(std::move(model)), m_dir(m_office->documentDir()) {
    m_call["ExportAsFixedFormat"] = [this, pdfFilter, pathArgument, options](const std::vector<Variant>& args,
                                                                            Variant&) {
        if (args.size() <= pathArgument || args[pathArgument].type != VarType::Bstr) return kDispEParamNotFound;
        Sequence<css::beans::PropertyValue> filterData = options ? options(args) : PdfFilterData({});
        return ExportPdf(*m_office, m_model, pdfFilter, filterData, args[pathArgument].bstr, m_failure);
    };
    m_call["Close"] = [this](const std::vector<Variant>&, Variant&) { return CloseDocument(m_model); };
}

OfficeDocument::~OfficeDocument() {
    CloseDocument(m_model);
    m_office->EndDocument(m_dir);
}

namespace {

const std::vector<std::string> kWordFilters = {"MS Word", "MS WinWord", "Rich Text Format", "Office Open XML Text",
                                               "Word 20"};
const std::vector<std::string> kExcelFilters = {"MS Excel", "Calc MS Excel", "Calc Office Open XML", "Excel 20"};

class Documents : public OfficeObject {
public:
    Documents(DocumentKind kind, std::shared_ptr<OfficeInstance> office) {
        m_call["Open"] = [this, kind, office](const std::vector<Variant>& args, Variant& out) {
            if (args.empty() || args[0].type != VarType::Bstr) return kDispEParamNotFound;
            Reference<css::frame::XModel> model;
            bool word = kind == DocumentKind::WordDocument;
            // Word's OpenAndRepair is LibreOffice's RepairPackage.
            int32_t repair = 0;
            if (word && args.size() > kOpenAndRepairArgument) VariantToInt32(args[kOpenAndRepairArgument], repair);
            std::string dir = office->BeginDocument(m_failure), copy;
            if (dir.empty()) return kNotFound;  // with the reason in m_failure
            int32_t hr = CopyPrivately(*office, args[0].bstr, copy, m_failure);
            // The package parts the worker reads are checked before the office reads the whole package.
            std::vector<bool> chartSheets;
            if (hr >= 0 && !word && !ChartSheets(office->context(), copy, chartSheets))
                hr = Failure(m_failure, "A part of the workbook package is larger than " +
                                            std::to_string(kMaxPackagePartBytes >> 20) + " MB.", kNotFound);
            // Row heights are dropped in a read-only workbook: workbooks open the private copy writable.
            if (hr >= 0)
                hr = LoadDocument(*office, copy, word, repair != 0, word ? kWordFilters : kExcelFilters, model,
                                  m_failure);
            if (hr < 0) {
                office->EndDocument(dir);  // the copy goes with the failed open
                return hr;
            }
            if (word) {
                out = Variant::Object(NewWordDocument(office, model));
                return 0;
            }
            out = Variant::Object(NewWorkbook(office, model, chartSheets));
            return 0;
        };
    }
};

// One office opens documents and workbooks alike: the application of either ProgID has both.
class Application : public OfficeObject {
public:
    explicit Application(std::shared_ptr<OfficeInstance> office) {
        auto pid = [office](const std::vector<Variant>&, Variant& out) {
            out = Variant::Int(static_cast<int32_t>(office->pid()));
            return 0;
        };
        m_get["Hwnd"] = pid;
        m_get["HWnd"] = pid;
        // A headless office shows nothing, asks nothing, and its loads never run macros or update links.
        for (const char* setting : {"Visible", "DisplayAlerts", "AutomationSecurity", "AskToUpdateLinks"})
            m_put[setting] = [](const Variant&) { return 0; };
        for (DocumentKind kind : {DocumentKind::WordDocument, DocumentKind::Workbook}) {
            auto documents = std::make_shared<Documents>(kind, office);
            m_get[kind == DocumentKind::WordDocument ? "Documents" : "Workbooks"] =
                [documents](const std::vector<Variant>&, Variant& out) {
                    out = Variant::Object(documents);
                    return 0;
                };
        }
        m_call["Quit"] = [office](const std::vector<Variant>&, Variant&) { return office->Quit(); };
    }
};

}  // namespace

int32_t CreateOfficeApplication(DispatchObject& app, std::string& error) {
    auto office = std::make_shared<OfficeInstance>();
    int32_t hr = office->Start(error);
    if (hr < 0) return hr;
    app = DispatchObject(std::make_shared<Application>(office));
    return 0;
}

}  // namespace parlux::libreoffice
