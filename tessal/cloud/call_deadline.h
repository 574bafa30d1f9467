// One time limit for an export call made of several requests (a revocation check of OCSP and
// CRL downloads, the polling for a mobile signature).
#pragma once

#include <chrono>

namespace cloud {

using DeadlineClock = std::chrono::steady_clock;

// The limit in milliseconds that the environment variable `variable` sets (a whole number from
// 1 to 3600000), else `fallback`.
std::chrono::milliseconds LimitFromEnvironment(const char* variable,
                                               std::chrono::milliseconds fallback);

// While it exists, every request of this thread (CHttp, the OCSP exchange) ends by `limit` from
// its creation; a request started after it fails at once with a time-out. Nested limits keep the
// earliest end.
class CallDeadline {
public:
    explicit CallDeadline(std::chrono::milliseconds limit);
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    DeadlineClock::time_point End() const { return m_end; }

private:
    DeadlineClock::time_point m_end;
    const CallDeadline* m_outer;
};

// The end of this thread's innermost call limit, or time_point::max() without one.
DeadlineClock::time_point CallDeadlineEnd();

// Whether this thread has a call limit that has passed.
bool CallDeadlinePassed();

// Time left until `end`, never negative.
std::chrono::milliseconds TimeLeft(DeadlineClock::time_point end);

}  // namespace cloud
