// The library's diagnostic log: one process-wide logger named "ZYK".
#pragma once

#include <string>

#include <log4cplus/logger.h>

#include "tessal/export.h"

class TESSAL_API QLogger {
public:
    static QLogger& GetInstance();

    QLogger(const QLogger& other);

    void Trace(const std::string& text) const;
    void Debug(const std::string& text) const;
    void Info(const std::string& text) const;
    void Warn(const std::string& text) const;
    void Error(const std::string& text) const;
    void Fatal(const std::string& text) const;

    log4cplus::Logger getLogger();
    void closeThreadPool();

private:
    QLogger();
    ~QLogger();
    QLogger& operator=(const QLogger& other);

    void Emit(int level, const std::string& text) const;

    log4cplus::Logger m_logger;
};

// Writes one DEBUG record with the host's text.
TESSAL_API void ZYKWriteLog(std::string text);
