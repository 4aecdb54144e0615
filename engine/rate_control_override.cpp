#include "engine/rate_control_override.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include "engine/ffmpeg_exception.h"

namespace engine {
namespace {

// A signed integer read like strtol: leading blanks, a sign, digits. `position` moves past what was read.
// Returns false when nothing could be read.
bool ReadInteger(const std::string& text, std::size_t& position, int& value) {
  const char* start = text.c_str() + position;
  char* end = nullptr;
  const long number = std::strtol(start, &end, 10);
  if (end == start) return false;
  value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
  position += static_cast<std::size_t>(end - start);
  return true;
}

}  // namespace

std::vector<RcOverride> ParseRateControlOverride(const std::string& text) {
  std::vector<RcOverride> entries;
  std::size_t position = 0;
  while (position < text.size()) {
    RcOverride entry{};
    int q = 0;
    // The start and end frame must each be followed by one separator character.
    if (!ReadInteger(text, position, entry.start_frame) || position >= text.size()) {
      throw FFmpegException("error parsing rc_override");
    }
    ++position;
    if (!ReadInteger(text, position, entry.end_frame) || position >= text.size()) {
      throw FFmpegException("error parsing rc_override");
    }
    ++position;
    if (!ReadInteger(text, position, q)) throw FFmpegException("error parsing rc_override");
    if (q > 0) {
      entry.qscale = q;
      entry.quality_factor = 1.0F;
    } else {
      entry.qscale = 0;
      entry.quality_factor = static_cast<float>(-q) / 100.0F;
    }
    entries.push_back(entry);
    const std::size_t slash = text.find('/', position);
    if (slash == std::string::npos) break;
    position = slash + 1;
  }
  return entries;
}

}  // namespace engine
