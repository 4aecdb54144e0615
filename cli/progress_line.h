// The progress report of a conversion on one line: the time reached against the total duration, the percent
// when the total is known, the frames with their rate, and the output size.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/status_line.h"
#include "engine/engine_records.h"

namespace cli {

// "00:00:01.480 / 00:00:03.000 49%  frame=37 fps=25  size=123 kB"; the total reads "N/A" when it is
// unknown (and the percent is left out), frame and fps are left out for an output without video.
std::string ProgressLineText(const engine::TProgressInfo& info);

// Prints the reports of one conversion, at most one per interval (a task's final report always). On a
// terminal each line overwrites the one before ('\r'); elsewhere, a log file or a pipe, each report is a
// line of its own.
class ProgressPrinter {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressPrinter(std::FILE* stream, bool rewrite_in_place, std::chrono::milliseconds interval);

  void Report(const engine::TProgressInfo& info, Clock::time_point now);
  // Ends an overwritten line, so that what is printed next starts on a line of its own.
  void Finish();

 private:
  StatusLine line_;
  std::chrono::milliseconds interval_;
  std::optional<Clock::time_point> last_printed_;
};

}  // namespace cli
