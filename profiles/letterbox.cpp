#include "profiles/letterbox.h"

#include <cmath>

#include "profiles/job_numbers.h"
#include "runtime/trim_blanks.h"

namespace profiles {
namespace {

struct SizeParts {
  std::string Width;
  std::string Height;
};

// Split at the first "x"; a text without one gives itself and "".
SizeParts SplitSize(std::string_view size) {
  const std::size_t x = size.find('x');
  if (x == std::string_view::npos) return {std::string(size), {}};
  return {std::string(size.substr(0, x)), std::string(size.substr(x + 1))};
}

// "352x288 (CIF)" gives "352x288".
std::string WithoutNote(std::string text) {
  if (text.find('(') != std::string::npos) text = text.substr(0, text.find(' '));
  return text;
}

bool IsOriginalSize(std::string_view lower_size_text) {
  return lower_size_text == "original size";
}

bool SourceHasPicture(std::string_view source_size) {
  return !runtime::TrimBlanks(source_size).empty();
}

// A scaled side as a whole, even number of pixels: the decimal text cut at its point; an odd number ending
// in 1 goes up, any other odd number down (241 -> 242, 243 -> 242, 405 -> 404).
bool EvenWholeSide(double side, long long& whole) {
  const std::string text = DecimalText(side);
  const std::string integral = text.substr(0, text.find('.'));
  double value = 0.0;
  if (integral.find_first_of("eE") != std::string::npos || !ParseDecimal(integral, value)) return false;
  whole = static_cast<long long>(value);
  if (whole % 2 != 0) whole += integral.back() == '1' ? 1 : -1;
  return true;
}

// Half of the difference, made even by going down; false when the half is no whole number.
bool EvenPadding(long long target, long long side, long long& padding) {
  const long long difference = target > side ? target - side : side - target;
  if (difference % 2 != 0) return false;
  padding = difference / 2;
  if (padding % 2 != 0) --padding;
  return true;
}

}  // namespace

void ApplyFrameSize(std::string_view size_text, std::string_view source_size,
                    engine::TOutputOptions& options) {
  const std::string size = WithoutNote(LowerCase(size_text));
  SizeParts parts;
  if (!IsOriginalSize(size)) {
    parts = SplitSize(size);
  } else {
    if (!SourceHasPicture(source_size)) return;
    parts = SplitSize(runtime::TrimBlanks(LowerCase(source_size)));
  }
  double width = 0.0;
  double height = 0.0;
  if (ParseDecimal(parts.Width, width) && ParseDecimal(parts.Height, height)) {
    options.FrameAspectRatio = DecimalText(width / height).substr(0, 6);
  } else {
    options.FrameAspectRatio = "1.3333";
  }
  options.FrameSize = parts.Width + "x" + parts.Height;
  options.PadTop = options.PadBottom = options.PadLeft = options.PadRight = 0;
}

bool ComputeLetterbox(std::string_view size_text, std::string_view source_size,
                      engine::TOutputOptions& options) {
  const std::string source = LowerCase(source_size);
  std::string target(runtime::TrimBlanks(LowerCase(size_text)));
  if (IsOriginalSize(target)) {
    target = source;
  } else {
    target = WithoutNote(target);
  }

  const SizeParts source_parts = SplitSize(source);
  const SizeParts target_parts = SplitSize(target);
  double sw = 0.0, sh = 0.0, tw = 0.0, th = 0.0;
  if (!ParseDecimal(source_parts.Width, sw) || !ParseDecimal(source_parts.Height, sh) || sw == 0.0 ||
      sh == 0.0) {
    return false;
  }
  if (!ParseDecimal(target_parts.Width, tw) || !ParseDecimal(target_parts.Height, th) || tw == 0.0 ||
      th == 0.0 || tw != std::trunc(tw) || th != std::trunc(th)) {
    return false;
  }
  const long long target_width = static_cast<long long>(tw);
  const long long target_height = static_cast<long long>(th);
  const double source_aspect = sw / sh;
  const double height_at_target_width = tw / source_aspect;

  if (height_at_target_width == th) {
    options.FrameSize = target;
    return true;
  }
  long long side = 0;
  long long padding = 0;
  if (height_at_target_width < th) {
    if (!EvenWholeSide(height_at_target_width, side) || !EvenPadding(target_height, side, padding))
      return false;
    options.FrameSize = std::to_string(target_width) + "x" + std::to_string(target_height - 2 * padding);
    options.PadTop = options.PadBottom = static_cast<int>(padding);
  } else {
    if (!EvenWholeSide(source_aspect * th, side) || !EvenPadding(target_width, side, padding)) return false;
    options.FrameSize = std::to_string(target_width - 2 * padding) + "x" + std::to_string(target_height);
    options.PadLeft = options.PadRight = static_cast<int>(padding);
  }
  options.FrameAspectRatio = DecimalText(tw / th);
  return true;
}

}  // namespace profiles
