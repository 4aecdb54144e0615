#include "cli/command_line.h"

#include <cstddef>

namespace cli {
namespace {

constexpr std::string_view kUsage =
    "usage: tarvello-convert --engine [--input-option NAME=VALUE]... INPUT OUTPUT [NAME=VALUE]...\n"
    "       tarvello-convert --version\n"
    "       tarvello-convert --help\n";

constexpr std::string_view kModes =
    "\n"
    "  --engine   Converts INPUT into OUTPUT with the conversion engine. Each NAME=VALUE after OUTPUT is an\n"
    "             option of the output (vcodec=copy, acodec=aac, ss=5, t=10, ...), each --input-option\n"
    "             NAME=VALUE one of the input. Progress goes to stderr; \"Done\" goes to stdout when the\n"
    "             conversion has succeeded. Ctrl-C stops the conversion (\"Abort\"); pressed three times,\n"
    "             it ends the program at once. Exit status: 0 done, 1 failed or stopped, 2 wrong arguments.\n"
    "  --version  The program's version and the media libraries it bound.\n"
    "  --help     This text.\n";

Command UsageError(std::string problem) {
  Command command;
  command.Kind = Mode::kUsageError;
  command.Problem = std::move(problem);
  return command;
}

// An option line must name its option and stay one line: the option text reads a line break, and its
// "<CRLF>" mark, as the start of a further option, which the user did not give as one.
bool IsOptionLine(std::string_view argument) {
  const std::size_t equals = argument.find('=');
  return equals != std::string_view::npos && equals > 0 &&
         argument.find_first_of("\r\n") == std::string_view::npos &&
         argument.find("<CRLF>") == std::string_view::npos;
}

std::string NotAnOptionLine(std::string_view argument) {
  return "'" + std::string(argument) + "' is no option of the form NAME=VALUE";
}

// [--input-option NAME=VALUE]... INPUT OUTPUT [NAME=VALUE]...; "--" ends the options before INPUT, so that
// file names may begin with "--".
Command ParseEngineArguments(const std::vector<std::string_view>& arguments) {
  Command command;
  command.Kind = Mode::kEngine;
  EngineRequest& request = command.Engine;
  std::vector<std::string_view> files;
  bool options_ended = false;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string_view argument = arguments[at];
    if (files.size() == 2) {
      if (!IsOptionLine(argument)) return UsageError(NotAnOptionLine(argument));
      request.OutputOptions.emplace_back(argument);
    } else if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && argument == "--input-option") {
      if (at + 1 == arguments.size()) return UsageError("--input-option needs NAME=VALUE");
      const std::string_view line = arguments[++at];
      if (!IsOptionLine(line)) return UsageError(NotAnOptionLine(line));
      request.InputOptions.emplace_back(line);
    } else if (!options_ended && argument.starts_with("--")) {
      return UsageError("unknown option '" + std::string(argument) + "'");
    } else {
      files.push_back(argument);
    }
  }
  if (files.empty()) return UsageError("--engine needs INPUT and OUTPUT");
  if (files.size() == 1) return UsageError("--engine needs OUTPUT after INPUT");
  request.Input = files[0];
  request.Output = files[1];
  return command;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string_view>& arguments) {
  if (arguments.empty()) return UsageError("no mode given");
  const std::string_view mode = arguments.front();
  if (mode == "--engine") return ParseEngineArguments({arguments.begin() + 1, arguments.end()});
  if (arguments.size() == 1 && mode == "--version") return Command{Mode::kVersion, {}, {}};
  if (arguments.size() == 1 && (mode == "--help" || mode == "-h")) return Command{Mode::kHelp, {}, {}};
  if (mode == "--version" || mode == "--help" || mode == "-h") {
    return UsageError(std::string(mode) + " takes no arguments");
  }
  return UsageError("unknown mode '" + std::string(mode) + "'");
}

std::string_view UsageText() {
  return kUsage;
}

std::string_view HelpText() {
  static const std::string help = std::string(kUsage) + std::string(kModes);
  return help;
}

std::string OptionText(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t at = 0; at < lines.size(); ++at) {
    if (at > 0) text += '\n';
    text += lines[at];
  }
  return text;
}

}  // namespace cli
