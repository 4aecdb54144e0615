#include "engine/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace engine {

void ApplyThreadPriority(TThreadPriority priority) {
  static constexpr int kNiceValues[] = {19, 10, 5, 0, -5, -10, -15};
  const int nice_value = kNiceValues[priority];
  if (nice_value == 0) return;
  // On Linux a nice value set for a thread id applies to that thread alone.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice_value);
}

}  // namespace engine
