// A line of progress on a stream: on a terminal each line overwrites the one before ('\r'); elsewhere, a log
// file or a pipe, each is a line of its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace cli {

class StatusLine {
 public:
  StatusLine(std::FILE* stream, bool rewrite_in_place)
      : stream_(stream), rewrite_in_place_(rewrite_in_place) {}

  void Show(const std::string& line);
  // Ends an overwritten line, so that what is printed next starts on a line of its own.
  void End();

 private:
  std::FILE* stream_;
  bool rewrite_in_place_;
  std::size_t shown_length_ = 0;  // of the line a terminal shows now
};

}  // namespace cli
