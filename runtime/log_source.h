// Anything that logs names itself: the components, the tasks and the logger.
#pragma once

#include <string>

namespace runtime {

class LogSource {
 public:
  virtual ~LogSource() = default;
  virtual std::string LogSourceName() const = 0;
};

// Common base of the engine component, the probe, the player and the logger.
class TFFBaseComponent : public LogSource {};

}  // namespace runtime
