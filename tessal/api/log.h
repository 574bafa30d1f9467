// Logging macros for the library's own code: records carry the caller's file and line.
#pragma once

#include <log4cplus/loggingmacros.h>

#include "tessal/logger.h"

// False once the host (or the exiting process) has shut logging down with QLogger::closeThreadPool.
bool LoggingActive();

// Keeps logging from being shut down while the holder writes a record.
class LogRecordHold {
public:
    LogRecordHold();
    ~LogRecordHold();
    LogRecordHold(const LogRecordHold&) = delete;
    LogRecordHold& operator=(const LogRecordHold&) = delete;
};

#define TESSAL_LOG_AT(macro, expr)                                            \
    do {                                                                      \
        LogRecordHold tessalLogHold;                                          \
        if (LoggingActive()) macro(QLogger::GetInstance().getLogger(), expr); \
    } while (0)

#define TLOG_TRACE(expr) TESSAL_LOG_AT(LOG4CPLUS_TRACE, expr)
#define TLOG_DEBUG(expr) TESSAL_LOG_AT(LOG4CPLUS_DEBUG, expr)
#define TLOG_INFO(expr) TESSAL_LOG_AT(LOG4CPLUS_INFO, expr)
#define TLOG_WARN(expr) TESSAL_LOG_AT(LOG4CPLUS_WARN, expr)
#define TLOG_ERROR(expr) TESSAL_LOG_AT(LOG4CPLUS_ERROR, expr)

// Traces entry and exit of the enclosing function ("ENTER: name", "EXIT:  name").
class LogMethodTrace {
public:
    explicit LogMethodTrace(const char* name);
    ~LogMethodTrace();
    LogMethodTrace(const LogMethodTrace&) = delete;
    LogMethodTrace& operator=(const LogMethodTrace&) = delete;

private:
    const char* m_name;
};

#define TLOG_TRACE_METHOD(name) LogMethodTrace tessalMethodTrace(name)
