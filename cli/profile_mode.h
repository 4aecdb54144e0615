// tarvello-convert [CHOICES] FILE...: every file probed, then converted one after another with the chosen
// profile, exactly as the window's queue converts its checked rows.
#pragma once

#include "cli/command_line.h"

namespace cli {

// Exit status: 0 every file done, 1 any failed (or the libraries cannot be bound), 2 a choice that the
// profile does not offer, 130 stopped by Ctrl-C.
int RunProfileMode(const ProfileRequest& request);

}  // namespace cli
