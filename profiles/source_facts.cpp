#include "profiles/source_facts.h"

#include <cmath>
#include <cstdio>

#include "profiles/job_numbers.h"

namespace profiles {
namespace {

std::string TwoDigits(long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld", value);
  return text;
}

}  // namespace

std::string FormatDuration(const std::string& separator, double seconds) {
  const long long total_minutes = static_cast<long long>(std::trunc(seconds / 60.0));
  const long long rest_seconds = RoundHalfEven(seconds - 60.0 * static_cast<double>(total_minutes));
  return TwoDigits(total_minutes / 60) + separator + TwoDigits(total_minutes % 60) + separator +
         TwoDigits(rest_seconds);
}

SourceFacts ReadSourceFacts(probe::TCustomAVProbe& probe, const std::string& path) {
  const probe::ProbeCloser close_after_reading(probe);
  if (!probe.Open(path)) {
    SourceFacts facts;
    facts.ProbeError = probe.LastError();
    return facts;
  }
  return ReadOpenedSourceFacts(probe);
}

SourceFacts ReadOpenedSourceFacts(probe::TCustomAVProbe& probe) {
  SourceFacts facts;
  facts.Opened = true;
  facts.SizeColumn = " ";
  probe::TVideoStreamInfo video;
  // A cover picture is no picture of the source: a sound file with its album art has no size.
  if (probe.NonCoverVideoStreamCount() > 0 &&
      probe.GetVideoStreamInfo(probe.FirstNonCoverVideoStream(), video)) {
    facts.SizeColumn = std::to_string(video.Width) + "x" + std::to_string(video.Height);
  }
  probe::TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  // Whole seconds first (the fraction dropped), as the list shows them.
  const long long whole_seconds = file.Duration / 1'000'000;
  facts.DurationColumn = FormatDuration(":", static_cast<double>(whole_seconds));
  if (facts.DurationColumn.find('-') != std::string::npos) facts.DurationColumn = "Unknown";
  return facts;
}

}  // namespace profiles
