// printf-style formatting into a std::string, for the fixed messages of the engine.
#pragma once

#include <string>

namespace runtime {

__attribute__((format(printf, 1, 2))) std::string TextFormat(const char* format, ...);

}  // namespace runtime
