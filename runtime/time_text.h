// The time text of progress lines, the file list and the probe: "hh:mm:ss.mmm".
#pragma once

#include <cstdint>
#include <string>

namespace runtime {

// "N/A" for the library's no-value marker (AV_NOPTS_VALUE); otherwise hours, minutes, seconds and
// milliseconds, "01:02:03.456". Hours take as many digits as they need ("100:00:00.000"). Milliseconds are
// cut, not rounded. A negative time is the text of its absolute value after a '-' ("-00:00:01.500").
std::string TimeText(std::int64_t microseconds);

}  // namespace runtime
