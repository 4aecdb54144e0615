#include "cli/status_line.h"

namespace cli {

void StatusLine::Show(const std::string& line) {
  if (rewrite_in_place_) {
    // Blanks wipe out the rest of a longer line shown before.
    const std::size_t blanks = shown_length_ > line.size() ? shown_length_ - line.size() : 0;
    std::fprintf(stream_, "\r%s%*s", line.c_str(), static_cast<int>(blanks), "");
    shown_length_ = line.size();
  } else {
    std::fprintf(stream_, "%s\n", line.c_str());
  }
  std::fflush(stream_);
}

void StatusLine::End() {
  if (shown_length_ == 0) return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
  shown_length_ = 0;
}

}  // namespace cli
