// tarvello-convert --engine: one conversion with the conversion engine, run to its end on a worker while the
// main thread serves the engine's events.
#pragma once

#include "cli/command_line.h"

namespace cli {

// Returns the exit status: 0 when the conversion finished, 1 when it failed or was stopped.
int RunEngineMode(const EngineRequest& request);

}  // namespace cli
