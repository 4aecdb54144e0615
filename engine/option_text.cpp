#include "engine/option_text.h"

#include <algorithm>
#include <cctype>

#include "engine/task.h"

namespace engine {

TOptionGroup OptionGroupOf(std::string_view name) {
  if (name == "newvideo" || name == "newaudio" || name == "newsubtitle") return ogNewStreams;
  if (name == "apre" || name == "vpre" || name == "spre") return ogPresets;
  if (name == "acodec" || name == "vcodec" || name == "scodec") return ogCodecNames;
  if (name == "s") return ogFrameSize;
  if (name == "vfilters") return ogVideoFilters;
  return ogGeneral;
}

std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text) {
  const auto is_blank_or_control = [](unsigned char c) { return c <= ' '; };
  const auto first = std::find_if_not(text.begin(), text.end(), is_blank_or_control);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), is_blank_or_control).base();
  std::string unified;
  for (auto it = first; it < last; ++it) {
    if (*it == '\r') {
      unified += '\n';
      if (it + 1 < last && *(it + 1) == '\n') ++it;
    } else {
      unified += *it;
    }
  }
  static constexpr std::string_view kLineBreakMark = "<CRLF>";
  std::string marked;
  std::size_t copied = 0;
  for (std::size_t at = unified.find(kLineBreakMark); at != std::string::npos;
       at = unified.find(kLineBreakMark, copied)) {
    marked.append(unified, copied, at - copied).push_back('\n');
    copied = at + kLineBreakMark.size();
  }
  marked.append(unified, copied);
  unified = std::move(marked);

  std::vector<std::pair<std::string, std::string>> lines;
  std::size_t start = 0;
  while (start < unified.size()) {
    std::size_t end = unified.find('\n', start);
    if (end == std::string::npos) end = unified.size();
    const std::string line = unified.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = line.find('=');
    std::string name = line.substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    lines.emplace_back(std::move(name),
                       equals == std::string::npos ? std::string() : line.substr(equals + 1));
  }
  return lines;
}

void TFFmpeg::ApplyOptionText(const std::string& text, int group) {
  for (const auto& [name, value] : SplitOptionText(text)) {
    if (OptionGroupOf(name) == group) SetOption(name, value);
  }
}

}  // namespace engine
