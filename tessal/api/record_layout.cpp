#include "api/record_layout.h"

#include <log4cplus/helpers/timehelper.h>
#include <log4cplus/spi/loggingevent.h>

#include <ostream>

namespace {

constexpr size_t kLevelColumns = 5;

void AppendThreeDigits(std::string& out, long long value) {
    out += static_cast<char>('0' + value / 100 % 10);
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

void RecordLayout::AppendSecond(std::string& out, const log4cplus::helpers::Time& time) {
    const std::time_t second = log4cplus::helpers::to_time_t(time);
    std::lock_guard<std::mutex> hold(m_mutex);
    if (second != m_second || m_secondText.empty()) {
        std::tm local{};
        log4cplus::helpers::localTime(&local, time);
        char text[64];
        size_t n = std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", &local);
        m_secondText.assign(text, n);
        m_second = second;
    }
    out += m_secondText;
}

void RecordLayout::AppendTo(std::string& out, const log4cplus::spi::InternalLoggingEvent& event) {
    const log4cplus::helpers::Time& time = event.getTimestamp();
    // Microseconds within the second, shown as milliseconds with three decimals.
    const long long micros = log4cplus::helpers::microseconds_part(time);
    out += '[';
    AppendSecond(out, time);
    out += ',';
    AppendThreeDigits(out, micros / 1000);
    out += '.';
    AppendThreeDigits(out, micros % 1000);
    out += "] [";
    out += event.getThread();
    out += "] ";
    const log4cplus::tstring& level = llmCache.toString(event.getLogLevel());
    out += level;
    if (level.size() < kLevelColumns) out.append(kLevelColumns - level.size(), ' ');
    out += " - ";
    out += event.getMessage();
    out += '\n';
}

void RecordLayout::formatAndAppend(log4cplus::tostream& output, const log4cplus::spi::InternalLoggingEvent& event) {
    std::string record;
    AppendTo(record, event);
    output.write(record.data(), static_cast<std::streamsize>(record.size()));
}
