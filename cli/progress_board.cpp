#include "cli/progress_board.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {
namespace {

// Erases the rest of the terminal line; before a line break it keeps the remains of a longer row out.
constexpr const char* kEraseLine = "\x1b[K";

// A row longer than the terminal is wide would wrap onto a second line that the redraw does not count.
std::string FitToWidth(const std::string& text, int descriptor) {
  winsize size{};
  if (::ioctl(descriptor, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return text;
  const std::size_t width = static_cast<std::size_t>(size.ws_col) - 1;
  return text.size() > width ? text.substr(0, width) : text;
}

}  // namespace

void ProgressBoard::Print(const std::string& line) {
  if (!terminal_) {
    std::fprintf(stream_, "%s\n", line.c_str());
    std::fflush(stream_);
    return;
  }
  ToBlockStart();
  for (const char c : line) {
    if (c == '\n') std::fputs(kEraseLine, stream_);
    std::fputc(c, stream_);
  }
  std::fprintf(stream_, "%s\n", kEraseLine);
  DrawRows();
}

void ProgressBoard::Show(int row, const std::string& text) {
  rows_[row] = terminal_ ? FitToWidth(text, ::fileno(stream_)) : text;
  if (!terminal_) {
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
    return;
  }
  ToBlockStart();
  DrawRows();
}

void ProgressBoard::Close(int row) {
  const auto found = rows_.find(row);
  if (found == rows_.end()) return;
  const std::string last = found->second;
  rows_.erase(found);
  if (!terminal_) return;  // its reports are on their lines already
  ToBlockStart();
  std::fprintf(stream_, "%s%s\n", last.c_str(), kEraseLine);
  DrawRows();
}

void ProgressBoard::ToBlockStart() {
  if (drawn_rows_ > 0) std::fprintf(stream_, "\r\x1b[%zuA", drawn_rows_);
  drawn_rows_ = 0;
}

void ProgressBoard::DrawRows() {
  for (const auto& [row, text] : rows_)
    std::fprintf(stream_, "%s%s\n", text.c_str(), kEraseLine);
  // Rows that have gone leave blank lines below the block: clear them.
  std::fputs("\x1b[J", stream_);
  drawn_rows_ = rows_.size();
  std::fflush(stream_);
}

}  // namespace cli
