#include "engine/option_value_text.h"

#include <charconv>
#include <cstdio>

namespace engine {

std::string MicrosecondsText(std::int64_t microseconds) {
  const bool negative = microseconds < 0;
  // Unsigned arithmetic: the magnitude of the smallest Int64 does not fit an Int64.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(microseconds) : static_cast<std::uint64_t>(microseconds);
  char text[48];
  std::snprintf(text, sizeof text, "%s%llu.%06llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 1000000),
                static_cast<unsigned long long>(magnitude % 1000000));
  return text;
}

std::string FloatText(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace engine
