// What the command line asks for: one of the program's modes with its arguments, or a usage error.
#pragma once

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

enum class Mode { kVersion, kHelp, kEngine, kUsageError };

struct Command {
  Mode Kind = Mode::kUsageError;
  EngineRequest Engine;  // kEngine only
  std::string Problem;   // kUsageError only: what is wrong with the arguments
};

// The arguments after the program's name.
Command ParseCommandLine(const std::vector<std::string_view>& arguments);

// The short synopsis shown with a usage error, and the --help text (the synopsis and what each mode does).
std::string_view UsageText();
std::string_view HelpText();

// The option text of a record: the lines joined with "\n".
std::string OptionText(const std::vector<std::string>& lines);

}  // namespace cli
