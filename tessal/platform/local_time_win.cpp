#include <time.h>

#include "platform/local_time.h"

namespace platform {

time_t UtcToInstant(struct tm& utc) { return _mkgmtime(&utc); }

struct tm LocalTime(time_t instant) {
    struct tm local = {};
    localtime_s(&local, &instant);
    return local;
}

long StandardZoneOffset() {
    _tzset();
    return -_timezone;
}

}  // namespace platform
