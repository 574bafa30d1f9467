// The log record layout of kRecordPattern, written directly: the same bytes as log4cplus's
// PatternLayout with that pattern, the date and time text made once a second, not once a record.
#pragma once

#include <log4cplus/layout.h>

#include <ctime>
#include <mutex>
#include <string>

// The log4cplus pattern the records follow.
constexpr char kRecordPattern[] = "[%D{%m/%d/%y %H:%M:%S,%Q}] [%t] %-5p - %m%n";

class RecordLayout : public log4cplus::Layout {
public:
    RecordLayout() = default;

    void formatAndAppend(log4cplus::tostream& output, const log4cplus::spi::InternalLoggingEvent& event) override;
    // The record appended to `out`.
    void AppendTo(std::string& out, const log4cplus::spi::InternalLoggingEvent& event);

private:
    // "%m/%d/%y %H:%M:%S" of the second of `event`, in local time.
    void AppendSecond(std::string& out, const log4cplus::helpers::Time& time);

    std::mutex m_mutex;  // guards the second last formatted
    std::time_t m_second = -1;
    std::string m_secondText;
};
