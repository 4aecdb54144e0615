// What the file list shows of an added file, read with the media probe: the picture size and the length.
#pragma once

#include <string>

#include "probe/av_probe.h"

namespace profiles {

struct SourceFacts {
  bool Opened = false;         // false: the probe could not read the file (the list shows "Error")
  std::string SizeColumn;      // "<width>x<height>" of the first video stream that is no cover picture,
                               // " " without one
  std::string DurationColumn;  // "hh:mm:ss", "Unknown" when the length is negative
  std::string ProbeError;      // why the probe could not read it
};

// Opens the file with probe, reads it and closes it again.
SourceFacts ReadSourceFacts(probe::TCustomAVProbe& probe, const std::string& path);
// The facts of the file the probe has open.
SourceFacts ReadOpenedSourceFacts(probe::TCustomAVProbe& probe);

// seconds as hours, minutes and seconds joined by separator, each at least two digits ("01:02:05",
// "100:00:00"); the fraction of a second is rounded.
std::string FormatDuration(const std::string& separator, double seconds);

}  // namespace profiles
