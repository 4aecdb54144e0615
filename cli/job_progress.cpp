#include "cli/job_progress.h"

#include <algorithm>
#include <cstdint>

#include "runtime/time_text.h"

namespace cli {
namespace {

constexpr int kBarWidth = 24;

std::string SizeText(std::int64_t bytes) {
  char text[32];
  const double megabytes = static_cast<double>(std::max<std::int64_t>(bytes, 0)) / 1e6;
  std::snprintf(text, sizeof text, "%.1f MB", megabytes);
  return text;
}

std::string ClockText(std::chrono::seconds seconds) {
  const long long total = seconds.count();
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::string Bar(int percent) {
  const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '=');
  if (filled < kBarWidth) {
    bar += percent >= 0 ? '>' : ' ';
    bar.append(static_cast<std::size_t>(kBarWidth - filled - 1), ' ');
  }
  return bar + "]";
}

}  // namespace

int PercentDone(const engine::TProgressInfo& info) {
  if (info.TotalDuration <= 0) return -1;
  if (info.CurrentDuration <= 0) return 0;
  if (info.CurrentDuration >= info.TotalDuration) return 100;
  return static_cast<int>(info.CurrentDuration * 100 / info.TotalDuration);
}

std::optional<std::chrono::seconds> TimeLeft(std::chrono::steady_clock::duration elapsed, int percent) {
  // Too early a guess swings wildly: none before the first second or the first percent.
  if (percent <= 0 || elapsed < std::chrono::seconds(1)) return std::nullopt;
  const auto whole = elapsed * 100 / percent;
  return std::chrono::ceil<std::chrono::seconds>(whole - elapsed);
}

std::string JobProgressText(const engine::TProgressInfo& info, std::optional<std::chrono::seconds> left,
                            bool with_bar) {
  const int percent = PercentDone(info);
  std::string text;
  if (with_bar) text = Bar(percent) + " ";
  char percent_text[8];
  std::snprintf(percent_text, sizeof percent_text, "%3d%%", percent);
  text += percent >= 0 ? std::string(percent_text) : runtime::TimeText(info.CurrentDuration);
  if (info.FrameNumber >= 0) text += "  fps=" + std::to_string(std::max(info.FPS, 0));
  text += "  size=" + SizeText(info.CurrentSize);
  if (left) text += "  left " + ClockText(*left);
  return text;
}

JobProgress::JobProgress(ProgressBoard& board, int row, bool with_bar, std::chrono::milliseconds interval)
    : board_(board), row_(row), with_bar_(with_bar), interval_(interval) {}

void JobProgress::Start(std::size_t number, std::size_t count, const std::string& file,
                        const std::string& output, Clock::time_point now) {
  board_.Close(row_);
  label_ = "[" + std::to_string(number) + "/" + std::to_string(count) + "] ";
  started_ = now;
  last_printed_.reset();
  board_.Print(label_ + file + " -> " + output);
}

void JobProgress::Report(const engine::TProgressInfo& info, Clock::time_point now) {
  const bool final_report = info.FileIndex < 0;
  if (!final_report && last_printed_ && now - *last_printed_ < interval_) return;
  last_printed_ = now;
  const std::optional<std::chrono::seconds> left =
      final_report ? std::nullopt : TimeLeft(now - started_, PercentDone(info));
  board_.Show(row_, label_ + JobProgressText(info, left, with_bar_));
}

void JobProgress::Finish() {
  board_.Close(row_);
}

}  // namespace cli
