// Values of the option records written as option text, in the engine's own notation ("." as the decimal
// point, whatever the locale).
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// 1500000 -> "1.500000", -250000 -> "-0.250000" (seconds).
std::string MicrosecondsText(std::int64_t microseconds);
// Shortest text that reads back as the same float: 0.7 -> "0.7".
std::string FloatText(float value);

}  // namespace engine
