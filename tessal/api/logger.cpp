// QLogger: configures log4cplus once for the whole process.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

#include <log4cplus/config.hxx>
#include <log4cplus/helpers/loglog.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>

#include "api/log.h"
#include "api/log_file_appender.h"
#include "api/record_layout.h"
#include "platform/program_paths.h"
#include "tessal/logger.h"

namespace {

constexpr const char* kLoggerName = "ZYK";
constexpr long kMaxFileSize = 5120;
constexpr int kBackupFiles = 3;

std::atomic<bool> g_loggingClosed{false};

// Records are written under a shared hold and logging is closed under the exclusive one, so
// closing never tears log4cplus down under a record being written. Never destroyed.
std::shared_mutex& LoggingGate() {
    static std::shared_mutex* gate = new std::shared_mutex;
    return *gate;
}

}  // namespace

bool LoggingActive() { return !g_loggingClosed.load(std::memory_order_acquire); }

QLogger::QLogger() {
    log4cplus::initialize();
    // A missing log directory loses records silently, as on the original platform.
    log4cplus::helpers::LogLog::getLogLog()->setQuietMode(true);
    m_logger = log4cplus::Logger::getInstance(kLoggerName);
    std::string path = platform::LogFilePath();
    if (!path.empty()) {  // empty without a home: no log at all
        log4cplus::SharedAppenderPtr appender(new LogFileAppender(path, kMaxFileSize, kBackupFiles));
        appender->setLayout(std::unique_ptr<log4cplus::Layout>(new RecordLayout));
        m_logger.addAppender(appender);
    }
    m_logger.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
}

QLogger::QLogger(const QLogger& other) : m_logger(other.m_logger) {}

QLogger::~QLogger() {
    if (LoggingActive()) log4cplus::Logger::shutdown();
}

QLogger& QLogger::operator=(const QLogger& other) {
    m_logger = other.m_logger;
    return *this;
}

QLogger& QLogger::GetInstance() {
    // Never destroyed: another thread may still be logging from an export while the process
    // exits. Logging is closed at exit instead (records written, later ones dropped).
    static QLogger* instance = [] {
        QLogger* logger = new QLogger;
        std::atexit([] { QLogger::GetInstance().closeThreadPool(); });
        return logger;
    }();
    return *instance;
}

LogRecordHold::LogRecordHold() { LoggingGate().lock_shared(); }
LogRecordHold::~LogRecordHold() { LoggingGate().unlock_shared(); }

LogMethodTrace::LogMethodTrace(const char* name) : m_name(name) { TLOG_TRACE("ENTER: " << m_name); }
LogMethodTrace::~LogMethodTrace() { TLOG_TRACE("EXIT:  " << m_name); }

void QLogger::Emit(int level, const std::string& text) const {
    LogRecordHold hold;
    if (!LoggingActive() || !m_logger.isEnabledFor(level)) return;
    m_logger.forcedLog(level, text, __FILE__, __LINE__);
}

void QLogger::Trace(const std::string& text) const { Emit(log4cplus::TRACE_LOG_LEVEL, text); }
void QLogger::Debug(const std::string& text) const { Emit(log4cplus::DEBUG_LOG_LEVEL, text); }
void QLogger::Info(const std::string& text) const { Emit(log4cplus::INFO_LOG_LEVEL, text); }
void QLogger::Warn(const std::string& text) const { Emit(log4cplus::WARN_LOG_LEVEL, text); }
void QLogger::Error(const std::string& text) const { Emit(log4cplus::ERROR_LOG_LEVEL, text); }
void QLogger::Fatal(const std::string& text) const { Emit(log4cplus::FATAL_LOG_LEVEL, text); }

log4cplus::Logger QLogger::getLogger() { return m_logger; }

void QLogger::closeThreadPool() {
    std::unique_lock<std::shared_mutex> hold(LoggingGate());
    if (g_loggingClosed.exchange(true, std::memory_order_acq_rel)) return;
    log4cplus::deinitialize();
}
