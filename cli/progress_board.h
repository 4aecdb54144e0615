// The progress of the jobs that run at the same time, one row each. On a terminal the rows form a small
// block at the bottom that is redrawn in place, with the lines printed for good (a job's heading, its last
// report, a message) scrolling above it; elsewhere, a log file or a pipe, every line and every report is a
// line of its own, in the order they come.
#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace cli {

class ProgressBoard {
 public:
  ProgressBoard(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {}

  // A line for good, above the rows (it may hold line breaks).
  void Print(const std::string& line);
  // The row's text now; a new row takes its place among the others by its number.
  void Show(int row, const std::string& text);
  // The row's last text stays, as a line for good, and the row goes.
  void Close(int row);

 private:
  // Back to the first row drawn, so that what follows writes over the block.
  void ToBlockStart();
  void DrawRows();

  std::FILE* stream_;
  bool terminal_;
  std::map<int, std::string> rows_;
  std::size_t drawn_rows_ = 0;  // rows on the terminal now, above the cursor
};

}  // namespace cli
