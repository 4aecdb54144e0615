// tarvello-convert --probe FILE...: what each file holds, as the media probe reads it (the container, the
// length, the picture size the file list shows, and every stream in brief).
#pragma once

#include <string>
#include <vector>

namespace cli {

// Exit status: 0 when every file was read, 1 when one could not be (its reason on stderr).
int RunProbeMode(const std::vector<std::string>& files);

}  // namespace cli
