// Reading numbers out of the parameter lists' texts and writing numbers into the engine's option texts.
// The decimal point is "." whatever the locale.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace profiles {

// A choice the job cannot be built from: a list without a selection, a text without a number, a frame rate
// of zero. The job then fails to start; the message says which choice.
class JobChoiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The number part of a list text: the trimmed text up to, not including, its first space
// ("1200 Kbps" gives "1200").
std::string_view ListNumberText(std::string_view text);

// The number part read as a decimal integer or a decimal number; what names the choice in the error.
long long ReadListInteger(std::string_view text, std::string_view what);
double ReadListDecimal(std::string_view text, std::string_view what);

// A whole text read as a decimal number, or false.
bool ParseDecimal(std::string_view text, double& value);

// Whole values without a decimal point ("720"), others with "." and at most 15 significant digits
// ("1.77777777777778").
std::string DecimalText(double value);

// Rounds to the nearest integer, halves to the even neighbour.
long long RoundHalfEven(double value);

std::string LowerCase(std::string_view text);

}  // namespace profiles
