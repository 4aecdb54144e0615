// tarvello-convert: the command line front end of the conversion engine. Reads the command line and hands
// over to the mode it names.
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/engine_mode.h"
#include "cli/probe_mode.h"
#include "cli/profile_mode.h"
#include "cli/version_mode.h"
#include "runtime/main_thread.h"

int main(int argc, char** argv) {
  runtime::BindMainThread();
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const cli::Command command = cli::ParseCommandLine(arguments);
  switch (command.Kind) {
    case cli::Mode::kVersion:
      return cli::RunVersionMode();
    case cli::Mode::kHelp:
      std::fwrite(cli::HelpText().data(), 1, cli::HelpText().size(), stdout);
      return 0;
    case cli::Mode::kEngine:
      return cli::RunEngineMode(command.Engine);
    case cli::Mode::kProbe:
      return cli::RunProbeMode(command.ProbeFiles);
    case cli::Mode::kProfiles:
      return cli::RunProfileMode(command.Profiles);
    case cli::Mode::kUsageError:
      break;
  }
  std::fprintf(stderr, "tarvello-convert: %s\n", command.Problem.c_str());
  std::fwrite(cli::UsageText().data(), 1, cli::UsageText().size(), stderr);
  std::fputs("Try 'tarvello-convert --help' for more.\n", stderr);
  return 2;
}
