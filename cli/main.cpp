// tarvello-convert: the command line front end of the conversion engine.
#include <cstdio>
#include <string_view>

#include "engine/vidrel.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"
#include "runtime/program_folder.h"

namespace {

constexpr const char* kUsage =
    "usage: tarvello-convert --version\n"
    "       tarvello-convert --help\n";

int PrintVersion() {
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

}  // namespace

int main(int argc, char** argv) {
  runtime::BindMainThread();
  const std::string_view command = argc >= 2 ? argv[1] : "";
  if (argc == 2 && command == "--version") return PrintVersion();
  if (argc == 2 && (command == "--help" || command == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
