// A private LibreOffice process for one conversion: its own profile, its own pipe, and proof
// that the connection reached the very process that was started.
#pragma once

#include <sys/types.h>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <cstdint>
#include <set>
#include <string>

#include "platform/process_handles.h"

namespace parlux::libreoffice {

namespace css = ::com::sun::star;

constexpr const char* kOfficeProgram = "/usr/lib/libreoffice/program/soffice.bin";
// How every office process starts: its own process group, killed with the worker, no standard
// input or output. No allocation limit: an office denied memory drops content silently; the
// supervisor bounds its resident size instead.
platform::SpawnOptions QuietOfficeOptions();

// This process's own UNO context, bootstrapped from the office's installation at first use.
css::uno::Reference<css::uno::XComponentContext> LocalContext();

class OfficeInstance {
public:
    OfficeInstance() = default;
    ~OfficeInstance();
    OfficeInstance(const OfficeInstance&) = delete;
    OfficeInstance& operator=(const OfficeInstance&) = delete;

    // Starts and connects; an HRESULT, with the reason in `error`.
    int32_t Start(std::string& error);
    // Ends the office (terminate, then signals) and removes its private directory.
    int32_t Quit();

    pid_t pid() const { return m_pid; }
    // A fresh private directory for the copy and the export of the document about to be
    // opened (documents never share one); empty with `error` when it cannot be made.
    std::string BeginDocument(std::string& error);
    // Removes the document's directory (and nothing when `dir` is no longer the current one).
    void EndDocument(const std::string& dir);
    const std::string& documentDir() const { return m_documentDir; }
    css::uno::Reference<css::frame::XDesktop2> desktop() const { return m_desktop; }
    css::uno::Reference<css::uno::XComponentContext> context() const { return m_context; }

private:
    bool Connect(const std::string& pipeName, std::string& error);
    bool ProveIdentity(const std::string& token);
    // Writes the socket files of the office known so far into the attempt directory.
    void RecordSockets();
    void Stop();

    pid_t m_pid = 0;
    std::string m_dir, m_workDir, m_documentDir;
    unsigned m_documents = 0;
    std::set<std::string> m_sockets;
    bool m_socketsRecorded = false;
    css::uno::Reference<css::uno::XComponentContext> m_context;
    css::uno::Reference<css::frame::XDesktop2> m_desktop;
};

}  // namespace parlux::libreoffice
