#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <thread>

namespace cli {
namespace {

constexpr std::string_view kUsage =
    "usage: tarvello-convert [--jobs N] [CHOICES] FILE...\n"
    "       tarvello-convert --list-profiles\n"
    "       tarvello-convert --probe FILE...\n"
    "       tarvello-convert --engine [--input-option NAME[=VALUE]]... INPUT OUTPUT [NAME[=VALUE]]...\n"
    "       tarvello-convert --version\n"
    "       tarvello-convert --help\n";

constexpr std::string_view kModes =
    "\n"
    "Converts each FILE, one after another (or N at a time with --jobs), with an output profile and the\n"
    "choices the window offers, into the output folder, named after the FILE with the profile's extension\n"
    "(\"clip-1.mp4\", \"clip-2.mp4\" when the name is taken). Progress goes to stderr, a line for each file\n"
    "that is converting; the table of results goes to stdout, in the order of the FILEs.\n"
    "Exit status: 0 every file done, 1 a file failed, 2 wrong arguments, 130 stopped with Ctrl-C.\n"
    "\n"
    "Choices (a VALUE is written as the window's list shows it; a wrong one is refused with the list):\n"
    "  --profile ROW|TEXT      the output profile: its row number or its text (--list-profiles);\n"
    "                          row 2, \"3GP - Mobile Video Format (*.3gp)\", when not given\n"
    "  --video-quality LEVEL   Highest, Higher, Normal, Lower or Lowest (picks the video bit rate)\n"
    "  --audio-quality LEVEL   the same for the audio bit rate\n"
    "  --video-codec VALUE     --size VALUE            --frame-rate VALUE      --video-bitrate VALUE\n"
    "  --audio-codec VALUE     --audio-bitrate VALUE   --sampling-rate VALUE   --channels VALUE\n"
    "  --letterbox VALUE       None or \"Add LetterBox\" (the default)\n"
    "  --volume N              0 to 200 in steps of 20 (100: unchanged; 0: no sound)\n"
    "  --overwrite             replace an output of the same name instead of numbering the new one\n"
    "  -o, --output-folder DIR the folder of the outputs (the current folder when not given)\n"
    "  -j, --jobs N            converts up to N files at the same time (1 when not given; 0: one per core)\n"
    "Choices are applied in the order given, as a user would choose them: a quality level picks its bit\n"
    "rate and a bit rate its quality level; a disc profile's size picks its frame rate and back.\n"
    "\n"
    "  --show-options   prints the records that would go to the engine for each FILE, converts nothing\n"
    "  --list-profiles  prints each profile's row number, a tab and its text\n"
    "  --probe          prints what each FILE holds: container, length, picture size and streams\n"
    "  --engine         converts INPUT into OUTPUT with the engine's own options (vcodec=copy, ss=5,\n"
    "                   t=10, vn, ...); each --input-option NAME[=VALUE] is one of the input. A bare\n"
    "                   NAME is the option with an empty value (\"vn\" switches a flag on). \"Done\" goes\n"
    "                   to stdout when the conversion has succeeded. Exit status: 0 done, 1 failed or\n"
    "                   stopped, 2 wrong arguments.\n"
    "  --version        the program's version and the media libraries it bound\n"
    "  --help           this text\n"
    "Ctrl-C stops the running conversions and closes their outputs; the files not started are skipped.\n"
    "Pressed three times, it ends the program at once.\n";

constexpr std::string_view kChoiceOptions[] = {
    "--video-quality", "--audio-quality", "--video-codec",   "--size",     "--frame-rate", "--video-bitrate",
    "--audio-codec",   "--audio-bitrate", "--sampling-rate", "--channels", "--letterbox",  "--volume"};

Command UsageError(std::string problem) {
  Command command;
  command.Kind = Mode::kUsageError;
  command.Problem = std::move(problem);
  return command;
}

// An option line must name its option and stay one line: the option text reads a line break, and its
// "<CRLF>" mark, as the start of a further option, which the user did not give as one. A bare NAME is the
// option with an empty value, as the option text itself reads a line without "=" ("vn" sets the flag).
// A bare word that is no option name (a second output file, say) is refused rather than silently ignored.
bool IsOptionLine(std::string_view argument) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string_view::npos) {
    return !argument.empty() && std::all_of(argument.begin(), argument.end(),
                                            [](unsigned char c) { return std::isalnum(c) != 0 || c == '_'; });
  }
  return equals > 0 && argument.find_first_of("\r\n") == std::string_view::npos &&
         argument.find("<CRLF>") == std::string_view::npos;
}

std::string NotAnOptionLine(std::string_view argument) {
  return "'" + std::string(argument) + "' is no option of the form NAME or NAME=VALUE";
}

// [--input-option NAME[=VALUE]]... INPUT OUTPUT [NAME[=VALUE]]...; "--" ends the options before INPUT, so
// that file names may begin with "--".
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
      if (at + 1 == arguments.size()) return UsageError("--input-option needs NAME or NAME=VALUE");
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

// A number of files at a time: 0 is one per core. More files at a time than a process could ever convert
// together are refused with the others, rather than read as a smaller number.
std::optional<unsigned> JobsValue(std::string_view text) {
  constexpr unsigned kMostJobs = 1024;
  unsigned jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || jobs > kMostJobs) {
    return std::nullopt;
  }
  return jobs == 0 ? JobsPerCore() : jobs;
}

// [CHOICES] FILE...: "--name VALUE" or "--name=VALUE"; "--" ends the options, so that file names may
// begin with "-".
Command ParseProfileArguments(const std::vector<std::string_view>& arguments) {
  Command command;
  command.Kind = Mode::kProfiles;
  ProfileRequest& request = command.Profiles;
  bool options_ended = false;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string_view argument = arguments[at];
    if (options_ended || argument == "-" || !argument.starts_with("-")) {
      request.Files.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    std::string_view name = argument;
    std::optional<std::string_view> attached;
    if (argument.starts_with("--") && argument.find('=') != std::string_view::npos) {
      name = argument.substr(0, argument.find('='));
      attached = argument.substr(argument.find('=') + 1);
    }
    const bool is_flag = name == "--overwrite" || name == "--show-options" || name == "--list-profiles";
    if (is_flag) {
      if (attached) return UsageError(std::string(name) + " takes no value");
      if (name == "--overwrite") request.Overwrite = true;
      if (name == "--show-options") request.ShowOptions = true;
      if (name == "--list-profiles") request.ListProfiles = true;
      continue;
    }
    const bool takes_value = IsChoiceOption(name) || name == "--profile" || name == "--output-folder" ||
                             name == "-o" || name == "--jobs" || name == "-j";
    if (!takes_value) return UsageError("unknown option '" + std::string(argument) + "'");
    std::string value;
    if (attached) {
      value = *attached;
    } else {
      if (at + 1 == arguments.size()) return UsageError(std::string(name) + " needs a value");
      value = arguments[++at];
    }
    if (name == "--profile") {
      request.Profile = value;
    } else if (name == "--jobs" || name == "-j") {
      const std::optional<unsigned> jobs = JobsValue(value);
      if (!jobs)
        return UsageError(std::string(name) + " needs a number of files at a time (0: one per core)");
      request.Jobs = *jobs;
    } else if (name == "--output-folder" || name == "-o") {
      if (value.empty()) return UsageError(std::string(name) + " needs a folder");
      request.OutputFolder = value;
    } else {
      request.Choices.push_back(ChoiceArgument{std::string(name), value});
    }
  }
  if (request.Files.empty() && !request.ListProfiles) return UsageError("no FILE to convert");
  return command;
}

}  // namespace

unsigned JobsPerCore() {
  return std::max(1U, std::thread::hardware_concurrency());
}

bool IsChoiceOption(std::string_view option) {
  for (const std::string_view choice : kChoiceOptions) {
    if (option == choice) return true;
  }
  return false;
}

Command ParseCommandLine(const std::vector<std::string_view>& arguments) {
  if (arguments.empty()) return UsageError("no FILE to convert");
  const std::string_view mode = arguments.front();
  if (mode == "--engine") return ParseEngineArguments({arguments.begin() + 1, arguments.end()});
  if (mode == "--probe") {
    if (arguments.size() == 1) return UsageError("--probe needs a FILE");
    Command command;
    command.Kind = Mode::kProbe;
    command.ProbeFiles.assign(arguments.begin() + 1, arguments.end());
    return command;
  }
  if (arguments.size() == 1 && mode == "--version") return Command{Mode::kVersion, {}, {}, {}, {}};
  if (arguments.size() == 1 && (mode == "--help" || mode == "-h"))
    return Command{Mode::kHelp, {}, {}, {}, {}};
  if (mode == "--version" || mode == "--help" || mode == "-h") {
    return UsageError(std::string(mode) + " takes no arguments");
  }
  return ParseProfileArguments(arguments);
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
