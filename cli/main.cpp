// tarvello-convert: the command line front end of the conversion engine.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/library_loader.h"
#include "runtime/program_folder.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
    loader.SetLibraryPath(runtime::ProgramFolder());
    std::printf("tarvello-convert %s\n", TARVELLO_VERSION);
    if (!loader.LoadLibraries(runtime::EngineLibraries)) {
      std::fprintf(stderr, "tarvello-convert: the media libraries cannot be bound: %s\n",
                   loader.LastError().c_str());
      return 1;
    }
    std::printf("%s\n", runtime::BoundLibraryVersions(runtime::EngineLibraries).c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: tarvello-convert --version\n");
  return 2;
}
