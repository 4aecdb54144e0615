// Where the help page lives: help/index.html beside the program, else in the installed data folder.
#pragma once

#include <QString>

namespace app {

// The help page's path, or "" when neither place has it.
QString HelpPage();

}  // namespace app
