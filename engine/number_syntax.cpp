#include "engine/number_syntax.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace engine {
namespace {

[[noreturn]] void RefuseInteger(std::string_view text) {
  throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads the whole text as an integer in [minimum, maximum].
std::int64_t ParseBounded(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
  std::size_t position = 0;
  while (position < text.size() && IsBlank(text[position]))
    ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  int base = 10;
  if (position < text.size() && text[position] == '$') {
    base = 16;
    ++position;
  } else if (text.size() - position > 2 && text[position] == '0' &&
             (text[position + 1] == 'x' || text[position + 1] == 'X')) {
    base = 16;
    position += 2;
  }
  const char* first = text.data() + position;
  const char* last = text.data() + text.size();
  if (first == last || *first == '+' || *first == '-') RefuseInteger(text);
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(first, last, magnitude, base);
  if (error != std::errc{} || end != last) RefuseInteger(text);
  // Hexadecimal digits give the bit pattern, as in "$FFFFFFFF" for -1.
  if (base == 16 && !negative && maximum == std::numeric_limits<int>::max() && magnitude <= 0xFFFFFFFFULL) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
  }
  if (base == 16 && !negative && maximum == std::numeric_limits<std::int64_t>::max()) {
    return static_cast<std::int64_t>(magnitude);
  }
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(-(minimum + 1)) + 1 : static_cast<std::uint64_t>(maximum);
  if (magnitude > limit) RefuseInteger(text);
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

}  // namespace

int ParseInteger(std::string_view text) {
  return static_cast<int>(
      ParseBounded(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::int64_t ParseInteger64(std::string_view text) {
  return ParseBounded(text, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max());
}

double ParseDecimal(std::string_view text) {
  std::string_view trimmed = text;
  while (!trimmed.empty() && IsBlank(trimmed.front()))
    trimmed.remove_prefix(1);
  while (!trimmed.empty() && IsBlank(trimmed.back()))
    trimmed.remove_suffix(1);
  if (!trimmed.empty() && trimmed.front() == '+') trimmed.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (trimmed.empty() || error != std::errc{} || end != trimmed.data() + trimmed.size()) {
    throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return value;
}

}  // namespace engine
