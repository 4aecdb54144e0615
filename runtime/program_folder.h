#pragma once

#include <filesystem>

namespace runtime {

// The folder of the running executable (where the program looks for its media libraries first).
std::filesystem::path ProgramFolder();

}  // namespace runtime
