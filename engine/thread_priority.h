#pragma once

#include "engine/engine_records.h"

namespace engine {

// Gives the calling thread the nice value of the priority where the system permits it (raising priority needs
// privileges); otherwise the thread keeps its priority.
void ApplyThreadPriority(TThreadPriority priority);

}  // namespace engine
