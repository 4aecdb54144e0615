#include "cli/profile_choices.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "profiles/output_formats.h"
#include "profiles/parameter_lists.h"

namespace cli {
namespace {

using profiles::ChoiceList;
using profiles::QualityControl;
using profiles::WindowChoices;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string EntriesText(const ChoiceList& list) {
  std::string text;
  for (const std::string& entry : list.Entries) {
    if (!text.empty()) text += ", ";
    text += Quoted(entry);
  }
  return text;
}

bool ParseWhole(const std::string& text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The row of --profile: a row number or a row text, naming a profile.
bool FindProfileRow(const std::string& value, int& row, std::string& problem) {
  const auto rows = profiles::OutputFormatRows();
  if (ParseWhole(value, row)) {
    if (row >= 0 && row < static_cast<int>(rows.size()) &&
        profiles::IsProfileRow(rows[static_cast<std::size_t>(row)])) {
      return true;
    }
  } else {
    for (std::size_t at = 0; at < rows.size(); ++at) {
      if (rows[at] == value && profiles::IsProfileRow(value)) {
        row = static_cast<int>(at);
        return true;
      }
    }
  }
  problem = "--profile: " + Quoted(value) + " names no profile; tarvello-convert --list-profiles lists them";
  return false;
}

struct ChoiceTarget {
  ChoiceList* List = nullptr;
  const char* Caption = "";  // the list's label in the window
};

ChoiceTarget TargetOf(const std::string& option, WindowChoices& choices) {
  if (option == "--video-quality") return {&choices.ComboVideoQuality, "Video Quality"};
  if (option == "--audio-quality") return {&choices.ComboAudioQuality, "Audio Quality"};
  if (option == "--video-codec") return {&choices.ComboVideoCodec, "Video Codec"};
  if (option == "--size") return {&choices.ComboVideoSize, "Video Size"};
  if (option == "--frame-rate") return {&choices.ComboVideoFrameRate, "Framerate"};
  if (option == "--video-bitrate") return {&choices.ComboVideoBitrate, "Video Bitrate"};
  if (option == "--audio-codec") return {&choices.ComboAudioCodec, "Audio Codec"};
  if (option == "--audio-bitrate") return {&choices.ComboAudioBitrate, "Audio Bitrate"};
  if (option == "--sampling-rate") return {&choices.ComboSamplingRate, "Sampling Rate"};
  if (option == "--channels") return {&choices.ComboAudioChannels, "Audio Channels"};
  if (option == "--letterbox") return {&choices.ComboBoxLetterbox, "LetterBox"};
  return {};
}

// What the window runs after the user picked an entry of the list.
void RunChangeHandler(const std::string& option, WindowChoices& choices) {
  if (option == "--video-quality") profiles::ComboVideoQualityChange(choices, QualityControl::kVideoQuality);
  if (option == "--audio-quality") profiles::ComboVideoQualityChange(choices, QualityControl::kAudioQuality);
  if (option == "--video-bitrate") profiles::ComboVideoQualityChange(choices, QualityControl::kVideoBitrate);
  if (option == "--audio-bitrate") profiles::ComboVideoQualityChange(choices, QualityControl::kAudioBitrate);
  if (option == "--size") profiles::ComboVideoSizeChange(choices, false);
  if (option == "--frame-rate") profiles::ComboVideoFrameRateChange(choices);
}

bool ApplyVolume(const std::string& value, WindowChoices& choices, std::string& problem) {
  int volume = 0;
  if (!ParseWhole(value, volume) || volume < 0 || volume > 200 || volume % 20 != 0) {
    problem = "--volume: " + Quoted(value) + " is not offered; choose 0, 20, 40, ... 200";
    return false;
  }
  choices.OutputVolume = volume;
  return true;
}

bool ApplyChoice(const ChoiceArgument& choice, WindowChoices& choices, std::string& problem) {
  if (choice.Option == "--volume") return ApplyVolume(choice.Value, choices, problem);
  const ChoiceTarget target = TargetOf(choice.Option, choices);
  const std::string profile = choices.ComboOutputFormat.SelectedText();
  if (target.List->Count() == 0) {
    problem = choice.Option + ": the profile " + Quoted(profile) + " has no " + target.Caption +
              " (it makes audio only)";
    return false;
  }
  const int position = target.List->IndexOf(choice.Value);
  if (position < 0) {
    problem = choice.Option + ": " + Quoted(choice.Value) + " is not offered by " + Quoted(profile) +
              "; choose one of: " + EntriesText(*target.List);
    return false;
  }
  target.List->Select(position);
  RunChangeHandler(choice.Option, choices);
  return true;
}

}  // namespace

bool ApplyProfileRequest(const ProfileRequest& request, WindowChoices& choices, std::string& problem) {
  choices = WindowChoices{};
  profiles::FillPreferenceLists(choices);
  profiles::FillOutputFormatList(choices);
  int row = profiles::kFirstRunFormatRow;
  if (request.Profile && !FindProfileRow(*request.Profile, row, problem)) return false;
  profiles::RestoreProfileChoices(choices, row, choices.SavedVideoQuality, choices.SavedAudioQuality);

  choices.Overwrite = request.Overwrite;
  std::error_code error;
  choices.OutputFolder =
      request.OutputFolder ? *request.OutputFolder : std::filesystem::current_path(error).string();
  if (!std::filesystem::is_directory(choices.OutputFolder, error)) {
    problem = "the output folder " + Quoted(choices.OutputFolder) + " does not exist";
    return false;
  }
  for (const ChoiceArgument& choice : request.Choices) {
    if (!ApplyChoice(choice, choices, problem)) return false;
  }
  return true;
}

std::string ProfileListText() {
  std::string text;
  const auto rows = profiles::OutputFormatRows();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (!profiles::IsProfileRow(rows[row])) continue;
    text += std::to_string(row) + "\t" + std::string(rows[row]) + "\n";
  }
  return text;
}

}  // namespace cli
