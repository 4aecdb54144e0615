// Whether the window can be shown at all, asked before Qt is started: Qt ends the process with an abort
// when it cannot reach the display, and a user deserves one plain line instead.
#pragma once

#include <string>

namespace app {

// Empty when a display can be used; otherwise what is wrong, in one line.
std::string DisplayProblem();

}  // namespace app
