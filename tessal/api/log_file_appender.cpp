#include "api/log_file_appender.h"

#include <algorithm>
#include <sstream>
#include <string>

#include "api/record_layout.h"

LogFileAppender::LogFileAppender(const log4cplus::tstring& path, long maxFileSize, int backups)
    : log4cplus::RollingFileAppender(path, maxFileSize, backups, true, false) {}

namespace {
constexpr int kRecordsBetweenMeasures = 32;
}  // namespace

void LogFileAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    if (!out.good()) {
        if (!reopen()) return;  // the record is lost, as with log4cplus's own appender
        m_sizeKnown = false;
    }
    if (m_sizeKnown && m_size > maxFileSize) RollOver();
    std::string& record = m_record;
    record.clear();
    if (auto* own = dynamic_cast<RecordLayout*>(layout.get())) {
        own->AppendTo(record, event);
    } else {
        std::ostringstream text;
        layout->formatAndAppend(text, event);
        record = text.str();
    }
    out.write(record.data(), static_cast<std::streamsize>(record.size()));
    out.flush();
    if (m_sizeKnown && ++m_recordsCounted < kRecordsBetweenMeasures) {
        m_size += static_cast<long>(record.size());
#ifdef _WIN32
        m_size += static_cast<long>(std::count(record.begin(), record.end(), '\n'));  // text mode adds CRs
#endif
    } else {
        // The file was opened for appending: its position is its size once written to. Taken
        // again now and then, since other processes may append to the same file.
        std::streamoff position = out.tellp();
        m_sizeKnown = position >= 0;
        m_size = static_cast<long>(position);
        m_recordsCounted = 0;
    }
    if (!out.good()) m_sizeKnown = false;
    if (m_sizeKnown && m_size > maxFileSize) RollOver();
}

void LogFileAppender::RollOver() {
    rollover(true);
    m_size = 0;  // opened afresh, empty
    m_sizeKnown = out.good();
}
