// The log file's appender: log4cplus's size-rolling file appender, counting the file's size
// itself instead of asking the file for its position twice a record (it asks once in a while,
// for what other processes appended to the same file).
#pragma once

#include <log4cplus/fileappender.h>

#include <string>

class LogFileAppender : public log4cplus::RollingFileAppender {
public:
    LogFileAppender(const log4cplus::tstring& path, long maxFileSize, int backups);

protected:
    // One record, written and flushed at once; the file rolls over before a record when it is
    // past its size, and after one that takes it past its size, as log4cplus's appender does.
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    void RollOver();

    std::string m_record;  // used under the appender's lock
    long m_size = 0;
    bool m_sizeKnown = false;  // known once a record was written to the file opened last
    int m_recordsCounted = 0;  // records counted since the size was last taken from the file
};
