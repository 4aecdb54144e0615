#include "runtime/time_text.h"

#include <cinttypes>
#include <cstdio>

#include "runtime/library_entries.h"

namespace runtime {

std::string TimeText(std::int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return "N/A";
  // Dividing a negative time field by field would give a '-' in every field; the absolute value is safe to
  // take because the only time without one (the smallest 64-bit value) is the no-value marker.
  const bool negative = microseconds < 0;
  const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(microseconds)
                                           : static_cast<std::uint64_t>(microseconds);
  const std::uint64_t seconds_total = magnitude / 1000000;
  char text[48];
  std::snprintf(text, sizeof text, "%s%.2" PRIu64 ":%.2" PRIu64 ":%.2" PRIu64 ".%.3" PRIu64,
                negative ? "-" : "", seconds_total / 3600, seconds_total / 60 % 60, seconds_total % 60,
                magnitude % 1000000 / 1000);
  return text;
}

}  // namespace runtime
