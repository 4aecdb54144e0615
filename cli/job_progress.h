// The progress of one file among several: on a terminal a bar in the file's row of the board, rewritten in
// place, elsewhere a plain line per report. Both show the percent, the frame rate, the output size and the
// time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/progress_board.h"
#include "engine/engine_records.h"

namespace cli {

// The percent done (0..100), or -1 when the total is unknown.
int PercentDone(const engine::TProgressInfo& info);

// The time left, from the time taken so far and the share done; empty while nothing is done or before the
// first second.
std::optional<std::chrono::seconds> TimeLeft(std::chrono::steady_clock::duration elapsed, int percent);

// "[=========>          ]  45%  fps=120  size=1.2 MB  left 00:00:12" (the bar only for a terminal).
std::string JobProgressText(const engine::TProgressInfo& info, std::optional<std::chrono::seconds> left,
                            bool with_bar);

class JobProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // The job's reports go into `row` of the board; a terminal's row carries the bar.
  JobProgress(ProgressBoard& board, int row, bool with_bar, std::chrono::milliseconds interval);

  // A new file: "[2/3] clip.avi -> clip.3gp".
  void Start(std::size_t number, std::size_t count, const std::string& file, const std::string& output,
             Clock::time_point now);
  void Report(const engine::TProgressInfo& info, Clock::time_point now);
  // The last report stays on the board as a line of its own.
  void Finish();

 private:
  ProgressBoard& board_;
  int row_;
  bool with_bar_;
  std::chrono::milliseconds interval_;
  std::string label_;
  Clock::time_point started_{};
  std::optional<Clock::time_point> last_printed_;
};

}  // namespace cli
