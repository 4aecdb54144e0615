// What the command line asks for: one of the program's modes with its arguments, or a usage error.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// One conversion: INPUT into OUTPUT, with the option lines (NAME=VALUE, exactly as given) of each side.
struct EngineRequest {
  std::string Input;
  std::string Output;
  std::vector<std::string> InputOptions;
  std::vector<std::string> OutputOptions;
};

// One choice of the window's, as the option that names it and the value written as the window's list shows
// it ("--size", "352x288").
struct ChoiceArgument {
  std::string Option;
  std::string Value;
};

// Converting files with a profile, listing the profiles, or showing what would go to the engine.
struct ProfileRequest {
  bool ListProfiles = false;
  bool ShowOptions = false;
  bool Overwrite = false;
  std::optional<std::string> Profile;       // a row number or a row text
  std::optional<std::string> OutputFolder;  // the current folder when not given
  unsigned Jobs = 1;                        // files converted at the same time ("--jobs 0": one per core)
  std::vector<ChoiceArgument> Choices;      // in the order given: each is applied as the user's choice
  std::vector<std::string> Files;
};

enum class Mode { kVersion, kHelp, kEngine, kProfiles, kProbe, kUsageError };

struct Command {
  Mode Kind = Mode::kUsageError;
  EngineRequest Engine;                 // kEngine only
  ProfileRequest Profiles;              // kProfiles only
  std::vector<std::string> ProbeFiles;  // kProbe only
  std::string Problem;                  // kUsageError only: what is wrong with the arguments
};

// The options that carry a window choice, as --help lists them.
bool IsChoiceOption(std::string_view option);

// The files converted at the same time for "--jobs 0": one per core, at least one.
unsigned JobsPerCore();

// The arguments after the program's name.
Command ParseCommandLine(const std::vector<std::string_view>& arguments);

// The short synopsis shown with a usage error, and the --help text (the synopsis and what each mode does).
std::string_view UsageText();
std::string_view HelpText();

// The option text of a record: the lines joined with "\n".
std::string OptionText(const std::vector<std::string>& lines);

}  // namespace cli
