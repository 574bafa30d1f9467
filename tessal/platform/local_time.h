// Calendar time: UTC fields to an instant, an instant in the local zone, the zone's offset.
#pragma once

#include <ctime>

namespace platform {

// The instant of broken-down UTC time `utc` (normalising its fields).
time_t UtcToInstant(struct tm& utc);
// `instant` in the local zone.
struct tm LocalTime(time_t instant);
// The local zone's standard offset east of UTC in seconds (daylight saving left out).
long StandardZoneOffset();

}  // namespace platform
