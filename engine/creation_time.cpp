#include "engine/creation_time.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace engine {
namespace {

constexpr double kDaysFrom1899To1970 = 25569.0;

long OffsetOn(int year, int month) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month;
  local.tm_mday = 1;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  const std::time_t moment = std::mktime(&local);
  std::tm resolved{};
  localtime_r(&moment, &resolved);
  return resolved.tm_gmtoff;
}

}  // namespace

long StandardUtcOffsetSeconds() {
  std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  const int year = today.tm_year + 1900;
  // Daylight saving adds to the offset; whichever half of the year has the smaller offset is standard time.
  return std::min(OffsetOn(year, 0), OffsetOn(year, 6));
}

std::int64_t CreationTimeSeconds(double date_time) {
  const double offset_days = static_cast<double>(StandardUtcOffsetSeconds()) / 86400.0;
  return static_cast<std::int64_t>(std::nearbyint((date_time - kDaysFrom1899To1970 - offset_days) * 86400.0));
}

}  // namespace engine
