#include "backends/libreoffice/office_instance.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <vector>
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
#include "platform/private_dirs.h"
#include "platform/process_handles.h"
#include "platform/processes.h"
#include "platform/worker_signals.h"
#include "worker.h"

namespace parlux::libreoffice {

using css::uno::Reference;
using css::uno::UNO_QUERY;

namespace {

constexpr int kConnectMs = 60000;
constexpr int kConnectRetryMs = 20;  // the office's pipe is there about a second after its start
constexpr const char* kOfficeServicesDir = "/usr/lib/libreoffice/program/services";  // the office's own
constexpr int kQuitMs = 10000;
constexpr int32_t kServerExecFailure = static_cast<int32_t>(0x80080005);  // CO_E_SERVER_EXEC_FAILURE

}  // namespace

Reference<css::uno::XComponentContext> LocalContext() {
    static Reference<css::uno::XComponentContext> context = [] {
        // Without it the first remote call crashes.
        rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:/usr/lib/libreoffice/program/fundamentalrc");
        return cppu::defaultBootstrap_InitialComponentContext();
    }();
    return context;
}

OfficeInstance::~OfficeInstance() { Stop(); }

namespace {

// The description of the row-height component for the office to load: the first that exists of
// the built and the installed one, when its path needs no escaping in a URL; else empty.
std::string RowHeightComponent() {
#ifdef PARLUX_LO_COMPONENTS
    std::string candidates = PARLUX_LO_COMPONENTS;
    for (size_t start = 0; start < candidates.size();) {
        size_t end = candidates.find(':', start);
        std::string path = candidates.substr(start, end == std::string::npos ? std::string::npos : end - start);
        bool plain = std::all_of(path.begin(), path.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+", c) != nullptr;
        });
        if (plain && access(path.c_str(), R_OK) == 0) return path;
        if (end == std::string::npos) break;
        start = end + 1;
    }
#endif
    return std::string();
}

}  // namespace

platform::SpawnOptions QuietOfficeOptions() {
    platform::SpawnOptions options;
    options.ownProcessGroup = true;       // apart from the caller's terminal and its signals
    options.parentDeathSignal = SIGKILL;  // never outlives the worker
    options.nullStdio = true;             // never holds the caller's output open
    return options;
}

int32_t OfficeInstance::Start(std::string& error) {
    std::string cache = ProfileCacheDirectory(error);
    if (cache.empty()) return kHrAccessDenied;
    std::string profile = PreparedProfile(cache, error);
    if (profile.empty()) return kServerExecFailure;
    // Inside the attempt's directory, which the supervisor removes whatever becomes of this
    // process; a private one of its own otherwise.
    const char* attemptDir = std::getenv(kAttemptDirVariable);
    if (attemptDir && *attemptDir) {
        m_dir = std::string(attemptDir) + "/office";
        if (mkdir(m_dir.c_str(), 0700) != 0) m_dir.clear();
    } else {
        m_dir = platform::MakePrivateDirectory("parlux-lo");
    }
    if (m_dir.empty()) {
        error = "Unable to create a private office directory.";
        return kServerExecFailure;
    }
    m_workDir = m_dir + "/work";
    std::string tmp = m_dir + "/tmp";
    if (!CopyTree(profile, m_dir + "/profile") || mkdir(m_workDir.c_str(), 0700) != 0 || mkdir(tmp.c_str(), 0700) != 0) {
        error = "Unable to copy the office profile.";
        return kServerExecFailure;
    }
    std::string token = uniqueToken(), pipeName = "plx" + uniqueToken().substr(0, 18);
    std::vector<std::string> argv = {kOfficeProgram, "-env:UserInstallation=file://" + m_dir + "/profile",
                                     "-env:ParluxInstance=" + token, "--headless", "--invisible", "--norestore",
                                     "--nologo", "--nodefault", "--nolockcheck",
                                     "--accept=pipe,name=" + pipeName + ";urp;"};
    std::string component = RowHeightComponent();
    if (!component.empty())
        argv.push_back("-env:URE_MORE_SERVICES=<file://" + std::string(kOfficeServicesDir) + ">* file://" + component);
    // The office's named pipes are socket files in /tmp (or /var/tmp) that a killed office
    // leaves behind: recorded for the supervisor, which removes them after the attempt.
    for (const char* dir : {"/tmp", "/var/tmp"})
        m_sockets.insert(std::string(dir) + "/OSL_PIPE_" + std::to_string(geteuid()) + "_" + pipeName);
    RecordSockets();
    platform::SpawnOptions options = QuietOfficeOptions();
    options.environment = {"TMPDIR=" + tmp};
    m_pid = platform::SpawnProcess(argv, options);
    if (m_pid == 0) {
        error = "Unable to start " + std::string(kOfficeProgram) + ".";
        return kServerExecFailure;
    }
    platform::SetOfficeGroup(m_pid);
    if (attemptDir && *attemptDir) {
        std::ofstream record(std::string(attemptDir) + "/" + kOfficePidFile);
        record << m_pid << "\n";
    }
    bool connected = Connect(pipeName, error);
    RecordSockets();
    if (!connected) return kServerExecFailure;
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
                platform::SetOfficeGroup(0);
                error = "The office exited during start-up (status " + std::to_string(status) + ").";
                return false;
            }
            RecordSockets();  // the single-instance pipe appears early in the start-up
            if (platform::StopRequested()) {
                error = "The office start-up was cancelled.";
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
        }
    } catch (const css::uno::Exception& e) {
        error = "Unable to connect to the office: " + ToUtf8(e.Message);
        return false;
    }
    error = "The office did not accept a connection in time.";
    return false;
}

void OfficeInstance::RecordSockets() {
    const char* attemptDir = std::getenv(kAttemptDirVariable);
    if (!attemptDir || !*attemptDir) return;
    size_t known = m_sockets.size();
    if (m_pid != 0)
        for (const std::string& path : platform::SocketPathsOf(m_pid)) m_sockets.insert(path);
    if (m_socketsRecorded && known == m_sockets.size()) return;
    std::ofstream record(std::string(attemptDir) + "/" + kOfficeSocketsFile, std::ios::trunc);
    for (const std::string& path : m_sockets) record << path << "\n";
    m_socketsRecorded = true;
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

std::string OfficeInstance::BeginDocument(std::string& error) {
    EndDocument(m_documentDir);
    std::string dir = m_workDir + "/doc" + std::to_string(++m_documents);
    if (m_workDir.empty() || mkdir(dir.c_str(), 0700) != 0) {
        error = "Unable to create a private directory for the document.";
        return std::string();
    }
    return m_documentDir = dir;
}

void OfficeInstance::EndDocument(const std::string& dir) {
    if (dir.empty() || dir != m_documentDir) return;
    platform::RemoveTree(m_documentDir);
    m_documentDir.clear();
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
    if (!ended) {
        Stop();
    } else {
        m_pid = 0;
        platform::SetOfficeGroup(0);
    }
    platform::RemoveTree(m_dir);
    m_dir.clear();
    return asked ? 0 : kEFail;
}

void OfficeInstance::Stop() {
    if (m_pid != 0) {
        // The office leads its own group until it is reaped here: the group is all its own.
        int status = 0;
        kill(-m_pid, SIGTERM);
        if (!platform::WaitChild(m_pid, 3000, status)) {
            kill(-m_pid, SIGKILL);
            platform::WaitChild(m_pid, 3000, status);
        }
        m_pid = 0;
        platform::SetOfficeGroup(0);
    }
    platform::RemoveTree(m_dir);
    m_dir.clear();
}

}  // namespace parlux::libreoffice
