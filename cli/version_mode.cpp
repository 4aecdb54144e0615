#include "cli/version_mode.h"

#include <cstdio>

#include "engine/vidrel.h"
#include "runtime/library_loader.h"
#include "runtime/program_folder.h"

namespace cli {

int RunVersionMode() {
  engine::TVidrel vidrel;
  std::printf("tarvello-convert %s (engine %s)\n", TARVELLO_VERSION, vidrel.Version().c_str());
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    std::fprintf(stderr, "tarvello-convert: the media libraries cannot be bound: %s\n",
                 vidrel.LastErrorText().c_str());
    return 1;
  }
  std::printf("%s\n", runtime::BoundLibraryVersions(runtime::EngineLibraries).c_str());
  return 0;
}

}  // namespace cli
