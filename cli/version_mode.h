// tarvello-convert --version: the program's version, the engine's, and the media libraries it bound.
#pragma once

namespace cli {

// Returns the exit status: 1 when the media libraries cannot be bound.
int RunVersionMode();

}  // namespace cli
