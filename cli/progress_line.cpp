#include "cli/progress_line.h"

#include <algorithm>
#include <cstdint>

#include "runtime/time_text.h"

namespace cli {

std::string ProgressLineText(const engine::TProgressInfo& info) {
  const bool total_known = info.TotalDuration > 0;
  std::string line = runtime::TimeText(info.CurrentDuration);
  line += " / ";
  line += info.TotalDuration < 0 ? std::string("N/A") : runtime::TimeText(info.TotalDuration);
  if (total_known) {
    // Truncated, and held to 0..100: the time reached may run past a total taken from the container.
    const std::int64_t percent = info.CurrentDuration <= 0 ? 0
                                 : info.CurrentDuration >= info.TotalDuration
                                     ? 100
                                     : info.CurrentDuration * 100 / info.TotalDuration;
    line += " " + std::to_string(percent) + "%";
  }
  if (info.FrameNumber >= 0) {
    line += "  frame=" + std::to_string(info.FrameNumber) + " fps=" + std::to_string(std::max(info.FPS, 0));
  }
  line += "  size=" + std::to_string(std::max<std::int64_t>(info.CurrentSize, 0) / 1024) + " kB";
  return line;
}

ProgressPrinter::ProgressPrinter(std::FILE* stream, bool rewrite_in_place, std::chrono::milliseconds interval)
    : line_(stream, rewrite_in_place), interval_(interval) {}

void ProgressPrinter::Report(const engine::TProgressInfo& info, Clock::time_point now) {
  const bool final_report = info.FileIndex < 0;
  if (!final_report && last_printed_ && now - *last_printed_ < interval_) return;
  last_printed_ = now;
  line_.Show(ProgressLineText(info));
}

void ProgressPrinter::Finish() {
  line_.End();
}

}  // namespace cli
