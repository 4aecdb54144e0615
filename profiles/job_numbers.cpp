#include "profiles/job_numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "runtime/trim_blanks.h"

namespace profiles {
namespace {

[[noreturn]] void ThrowNoNumber(std::string_view text, std::string_view what) {
  throw JobChoiceError(std::string(what) + ": no number in \"" + std::string(text) + "\"");
}

}  // namespace

std::string_view ListNumberText(std::string_view text) {
  const std::string_view trimmed = runtime::TrimBlanks(text);
  return trimmed.substr(0, trimmed.find(' '));
}

long long ReadListInteger(std::string_view text, std::string_view what) {
  const std::string_view digits = ListNumberText(text);
  long long value = 0;
  const char* first = digits.data();
  const char* last = digits.data() + digits.size();
  if (!digits.empty() && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (digits.empty() || error != std::errc() || end != last) ThrowNoNumber(text, what);
  return value;
}

double ReadListDecimal(std::string_view text, std::string_view what) {
  double value = 0.0;
  if (!ParseDecimal(ListNumberText(text), value)) ThrowNoNumber(text, what);
  return value;
}

bool ParseDecimal(std::string_view text, double& value) {
  text = runtime::TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  // from_chars for double is locale-independent and takes no hexadecimal or infinities in this format.
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string DecimalText(double value) {
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<long long>(value));
  }
  char text[64];
  // %.15g in the "C" locale's terms: to_chars is locale-independent.
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  if (error != std::errc()) return "0";
  return std::string(text, end);
}

long long RoundHalfEven(double value) {
  const double lower = std::floor(value);
  const double fraction = value - lower;
  double rounded = lower;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0)) rounded = lower + 1.0;
  if (!(rounded >= static_cast<double>(std::numeric_limits<long long>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<long long>::max()))) {
    throw JobChoiceError("number out of range: " + DecimalText(value));
  }
  return static_cast<long long>(rounded);
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace profiles
