#include "backends/libreoffice/office_instance.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/util/XMacroExpander.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <thread>

#include "backends/libreoffice/profile_template.h"
#include "backends/libreoffice/uno_text.h"
#include "file_helpers.h"
#include "automation/dispatch.h"
#include "hresult.h"
#include "platform/process_handles.h"

namespace parlux::libreoffice {

using css::uno::Reference;
using css::uno::UNO_QUERY;

namespace {

constexpr int kConnectMs = 60000;
constexpr int kQuitMs = 10000;
constexpr int32_t kServerExecFailure = static_cast<int32_t>(0x80080005);  // CO_E_SERVER_EXEC_FAILURE

Reference<css::uno::XComponentContext> LocalContext() {
    static Reference<css::uno::XComponentContext> context = [] {
        // Without it the first remote call crashes.
        rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:/usr/lib/libreoffice/program/fundamentalrc");
        return cppu::defaultBootstrap_InitialComponentContext();
    }();
    return context;
}

}  // namespace

OfficeInstance::~OfficeInstance() { Stop(); }

int32_t OfficeInstance::Start(std::string& error) {
    std::string cache = ProfileCacheDirectory(error);
    if (cache.empty()) return kHrAccessDenied;
    std::string profile = PreparedProfile(cache, error);
    if (profile.empty()) return kServerExecFailure;
    std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/parlux-lo-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        error = "Unable to create a private office directory.";
        return kServerExecFailure;
    }
    m_dir = pattern;
    m_workDir = m_dir + "/work";
    if (!CopyTree(profile, m_dir + "/profile") || mkdir(m_workDir.c_str(), 0700) != 0) {
        error = "Unable to copy the office profile.";
        return kServerExecFailure;
    }
    std::string token = uniqueToken(), pipeName = "parlux-" + uniqueToken();
    m_pid = platform::SpawnProcess({kOfficeProgram, "-env:UserInstallation=file://" + m_dir + "/profile",
                                    "-env:ParluxInstance=" + token, "--headless", "--invisible", "--norestore",
                                    "--nologo", "--nodefault", "--nolockcheck",
                                    "--accept=pipe,name=" + pipeName + ";urp;"});
    if (m_pid == 0) {
        error = "Unable to start " + std::string(kOfficeProgram) + ".";
        return kServerExecFailure;
    }
    if (!Connect(pipeName, error)) return kServerExecFailure;
    if (!ProveIdentity(token)) {
        error = "The office connection did not reach the started process.";
        return kServerExecFailure;
    }
    try {
        m_desktop = css::frame::Desktop::create(m_context);
    } catch (const css::uno::Exception& e) {
        error = ToUtf8(e.Message);
        return kServerExecFailure;
    }
    return 0;
}

bool OfficeInstance::Connect(const std::string& pipeName, std::string& error) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectMs);
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(LocalContext());
        OUString url = FromUtf8("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext");
        for (;;) {
            try {
                m_context.set(resolver->resolve(url), UNO_QUERY);
                if (m_context.is()) return true;
            } catch (const css::connection::NoConnectException&) {
            }
            int status = 0;
            if (platform::WaitChild(m_pid, 0, status)) {
                m_pid = 0;
                error = "The office exited during start-up (status " + std::to_string(status) + ").";
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } catch (const css::uno::Exception& e) {
        error = "Unable to connect to the office: " + ToUtf8(e.Message);
        return false;
    }
    error = "The office did not accept a connection in time.";
    return false;
}

bool OfficeInstance::ProveIdentity(const std::string& token) {
    try {
        Reference<css::util::XMacroExpander> expander(
            m_context->getValueByName("/singletons/com.sun.star.util.theMacroExpander"), UNO_QUERY);
        return expander.is() && ToUtf8(expander->expandMacros("${ParluxInstance}")) == token;
    } catch (const css::uno::Exception&) {
        return false;
    }
}

int32_t OfficeInstance::Quit() {
    if (m_pid == 0) return 0;
    bool asked = false;
    try {
        if (m_desktop.is()) asked = m_desktop->terminate();
    } catch (const css::uno::Exception&) {
        asked = true;  // the bridge closes while the office goes away
    }
    m_desktop.clear();
    m_context.clear();
    int status = 0;
    bool ended = platform::WaitChild(m_pid, asked ? kQuitMs : 0, status);
    if (!ended) Stop();
    else m_pid = 0;
    RemoveTree(m_dir);
    m_dir.clear();
    return asked ? 0 : kEFail;
}

void OfficeInstance::Stop() {
    if (m_pid != 0) {
        int status = 0;
        kill(m_pid, SIGTERM);
        if (!platform::WaitChild(m_pid, 3000, status)) {
            kill(m_pid, SIGKILL);
            platform::WaitChild(m_pid, 3000, status);
        }
        m_pid = 0;
    }
    RemoveTree(m_dir);
    m_dir.clear();
}

}  // namespace parlux::libreoffice
