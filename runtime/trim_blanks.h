// Blank trimming as the option and name texts need it: spaces and control characters at either end.
#pragma once

#include <string_view>

namespace runtime {

constexpr bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

constexpr std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace runtime
