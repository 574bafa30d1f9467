#include "cloud/call_deadline.h"

#include <algorithm>
#include <cstdlib>

namespace cloud {
namespace {

constexpr long kLongestLimitMs = 3600000;

thread_local const CallDeadline* t_innermost = nullptr;

}  // namespace

std::chrono::milliseconds LimitFromEnvironment(const char* variable,
                                               std::chrono::milliseconds fallback) {
    const char* text = std::getenv(variable);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= kLongestLimitMs ? std::chrono::milliseconds(value)
                                                                  : fallback;
}

CallDeadline::CallDeadline(std::chrono::milliseconds limit)
    : m_end(std::min(DeadlineClock::now() + limit, CallDeadlineEnd())), m_outer(t_innermost) {
    t_innermost = this;
}

CallDeadline::~CallDeadline() { t_innermost = m_outer; }

DeadlineClock::time_point CallDeadlineEnd() {
    return t_innermost ? t_innermost->End() : DeadlineClock::time_point::max();
}

bool CallDeadlinePassed() { return t_innermost && DeadlineClock::now() >= t_innermost->End(); }

std::chrono::milliseconds TimeLeft(DeadlineClock::time_point end) {
    auto now = DeadlineClock::now();
    if (end <= now) return std::chrono::milliseconds(0);
    if (end == DeadlineClock::time_point::max()) return std::chrono::milliseconds::max();
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
}

}  // namespace cloud
