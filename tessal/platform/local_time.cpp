#include "platform/local_time.h"

namespace platform {

time_t UtcToInstant(struct tm& utc) { return timegm(&utc); }

struct tm LocalTime(time_t instant) {
    struct tm local = {};
    localtime_r(&instant, &local);
    return local;
}

long StandardZoneOffset() {
    tzset();
    return -timezone;
}

}  // namespace platform
