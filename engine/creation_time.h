#pragma once

#include <cstdint>

namespace engine {

// A date-time (days since 1899-12-30, local time) as whole seconds since 1970-01-01 UTC, taking off the
// local zone's standard offset (daylight saving is not considered); ties round to even.
std::int64_t CreationTimeSeconds(double date_time);

// The local zone's offset from UTC outside daylight saving, in seconds (east positive).
long StandardUtcOffsetSeconds();

}  // namespace engine
