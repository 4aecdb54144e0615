// Errors of the engine's options and set-up, raised with fixed English messages and turned into results
// (AddTask -1, SetOutputFile false, a task's ExceptionMessage) by the engine's operations.
#pragma once

#include <stdexcept>
#include <string>

namespace engine {

class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The engine component's own state errors ("Cannot AddTask while working.").
class EngineStateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace engine
