// Numbers in option values: integers as "[blanks][sign]digits", with "$" or "0x" before hexadecimal digits;
// decimal numbers with "." as the decimal point whatever the locale. A malformed number is refused with
// "'%s' is not a valid integer value" or "'%s' is not a valid floating point value".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace engine {

class ConversionError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

int ParseInteger(std::string_view text);
std::int64_t ParseInteger64(std::string_view text);
double ParseDecimal(std::string_view text);

}  // namespace engine
