// The window's choices from the command line: the profile, then each choice in the order given, checked
// against the list the window would show for it and applied as the user's own choice would be.
#pragma once

#include <string>

#include "cli/command_line.h"
#include "profiles/window_choices.h"

namespace cli {

// Fills choices as a first run of the window does (row 2, both quality levels "Normal", letterbox on,
// volume 100), then applies the request. False with the problem (naming the valid values) when a value is
// not offered.
bool ApplyProfileRequest(const ProfileRequest& request, profiles::WindowChoices& choices,
                         std::string& problem);

// The --list-profiles lines: "<row>\t<row text>" for each profile row.
std::string ProfileListText();

}  // namespace cli
