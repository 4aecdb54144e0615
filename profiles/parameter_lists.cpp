#include "profiles/parameter_lists.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>
#include <vector>

#include "profiles/job_numbers.h"
#include "runtime/trim_blanks.h"

namespace profiles {
namespace {

constexpr std::array<std::string_view, 23> kStandardFrameSizes = {
    "Original Size", "720x576",        "720x480", "704x576 (4CIF)", "640x480",       "640x352",
    "624x352",       "480x576",        "480x480", "480x360",        "480x272",       "352x288 (CIF)",
    "352x240",       "320x240 (VGA)",  "320x200", "240x180",        "220x176",       "208x176",
    "192x144",       "176x144 (QCIF)", "176x120", "160x120 (QVGA)", "128x96 (SQCIF)"};
constexpr std::array<std::string_view, 7> kStandardFrameRates = {
    "Auto", "30.0 fps", "29.97 fps", "25.0 fps", "23.975 fps", "15.0 fps", "14.985 fps"};
constexpr std::array<std::string_view, 13> kStandardVideoBitRates = {
    "192 Kbps",  "200 Kbps",  "256 Kbps",  "384 Kbps",  "512 Kbps",  "640 Kbps", "768 Kbps",
    "1000 Kbps", "1200 Kbps", "1500 Kbps", "1600 Kbps", "2000 Kbps", "2500 Kbps"};
// "54000 Hz" is the entry the list has always offered; it stays as it is, not corrected.
constexpr std::array<std::string_view, 8> kStandardSampleRates = {
    "96000 Hz", "54000 Hz", "48000 Hz", "44100 Hz", "32000 Hz", "22050 Hz", "16000 Hz", "8000 Hz"};
constexpr std::array<std::string_view, 5> kQualityLevels = {"Highest", "Higher", "Normal", "Lower", "Lowest"};
constexpr int kNormalQuality = 2;

// Their frame-size lists hold the PAL size then the NTSC size, their frame-rate lists the NTSC rate then the
// PAL rate, so a choice in one list selects the other position in the other.
constexpr std::array<std::string_view, 4> kDiscProfiles = {
    "DVD Compatible MPEG-2 Movie (*.mpg)", "DVD - VOB (*.vob)", "Video CD (*.mpg)", "Super Video CD (*.mpg)"};

constexpr std::string_view kDefaultMarker = "default";
constexpr std::string_view kOnlyMarker = "ONLY";
constexpr char kItemSeparator = '-';

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A marker is a case-sensitive suffix; everything from where it starts is cut.
std::string_view CutMarker(std::string_view text, std::string_view marker) {
  return text.substr(0, text.find(marker));
}

std::string WithUnit(std::string_view value, std::string_view unit) {
  std::string text(value);
  if (!Contains(value, unit)) text.append(" ").append(unit);
  return text;
}

// How a profile's choice field is written.
enum class FieldForm {
  kEmpty,   // the profile gives nothing: a standard list
  kItems,   // "a-bdefault-c": these entries, the marked one selected
  kOnly,    // "xONLY": this one entry
  kLookup,  // "xdefault": look x up in another list of entries
  kSingle,  // "x": this one entry
};

FieldForm FormOf(std::string_view field) {
  if (field.empty()) return FieldForm::kEmpty;
  if (field.find(kItemSeparator) != std::string_view::npos) return FieldForm::kItems;
  if (Contains(field, kOnlyMarker)) return FieldForm::kOnly;
  if (Contains(field, kDefaultMarker)) return FieldForm::kLookup;
  return FieldForm::kSingle;
}

// Fills list with the field's items, marker cut and each shaped by entry_of; the marked item is selected,
// else the first.
template <typename EntryOf>
void FillItems(ChoiceList& list, std::string_view field, EntryOf entry_of) {
  list.Clear();
  if (field.empty()) return;
  int marked = -1;
  for (std::size_t start = 0; start <= field.size();) {
    const std::size_t end = std::min(field.find(kItemSeparator, start), field.size());
    const std::string_view item = field.substr(start, end - start);
    if (marked < 0 && Contains(item, kDefaultMarker)) marked = list.Count();
    list.Add(entry_of(CutMarker(item, kDefaultMarker)));
    start = end + 1;
  }
  list.Select(marked >= 0 ? marked : 0);
}

void FillItemsAsWritten(ChoiceList& list, std::string_view field) {
  FillItems(list, field, [](std::string_view item) { return std::string(item); });
}

void FillStandard(ChoiceList& list, std::span<const std::string_view> entries) {
  list.Clear();
  for (std::string_view entry : entries)
    list.Add(std::string(entry));
  list.Select(0);
}

void FillOne(ChoiceList& list, std::string entry) {
  list.Clear();
  list.Add(std::move(entry));
  list.Select(0);
}

int FirstContaining(const ChoiceList& list, std::string_view part) {
  for (int at = 0; at < list.Count(); ++at) {
    if (Contains(list.Entries[static_cast<std::size_t>(at)], part)) return at;
  }
  return -1;
}

int LastContaining(const ChoiceList& list, std::string_view part) {
  for (int at = list.Count() - 1; at >= 0; --at) {
    if (Contains(runtime::TrimBlanks(list.Entries[static_cast<std::size_t>(at)]), part)) return at;
  }
  return -1;
}

void SelectFound(ChoiceList& list, int found) {
  list.Select(found >= 0 ? found : 0);
}

// One entry per quality level, a level whose rate repeats the one before it adding none; then the field
// selects its rate among them ("xdefault": the first entry containing x), or replaces them ("xONLY").
void FillBitRateList(ChoiceList& list, const std::array<const std::string*, 5>& rates,
                     std::string_view field) {
  if (FormOf(field) == FieldForm::kOnly) {
    FillOne(list, WithUnit(CutMarker(field, kOnlyMarker), "Kbps"));
    return;
  }
  list.Clear();
  for (std::size_t level = 0; level < rates.size(); ++level) {
    if (level == 0 || *rates[level] != *rates[level - 1]) list.Add(WithUnit(*rates[level], "Kbps"));
  }
  SelectFound(list, FirstContaining(list, CutMarker(field, kDefaultMarker)));
}

const Quality& CurrentProfile(const WindowChoices& choices) {
  return ProfileOrEmpty(choices.ComboOutputFormat.SelectedText());
}

bool IsDiscProfile(const WindowChoices& choices) {
  const std::string row = choices.ComboOutputFormat.SelectedText();
  return std::find(kDiscProfiles.begin(), kDiscProfiles.end(), row) != kDiscProfiles.end();
}

// The disc profiles' pairs: position 0 of one list goes with position 1 of the other.
void SelectPairedPosition(int position, ChoiceList& other) {
  if (position == 0 || position == 1) other.Select(1 - position);
}

// A quality level past the end of a short bit-rate list (a single "ONLY" rate, repeated rates) takes the
// list's last rate, so the list never loses the rate the job is built with.
void FollowQuality(const ChoiceList& quality, ChoiceList& bit_rate) {
  if (quality.Selected < 0 || bit_rate.Count() == 0) return;
  bit_rate.Select(std::min(quality.Selected, bit_rate.Count() - 1));
}

bool IsQualityLevel(int position) {
  return position >= 0 && position < static_cast<int>(kQualityLevels.size());
}

std::string Translate(std::string_view shown,
                      std::span<const std::pair<std::string_view, std::string_view>> names) {
  std::string name = LowerCase(runtime::TrimBlanks(shown));
  for (const auto& [from, to] : names) {
    if (name == from) return std::string(to);
  }
  return name;
}

}  // namespace

std::span<const std::string_view> StandardFrameSizes() {
  return kStandardFrameSizes;
}
std::span<const std::string_view> StandardFrameRates() {
  return kStandardFrameRates;
}
std::span<const std::string_view> StandardVideoBitRates() {
  return kStandardVideoBitRates;
}
std::span<const std::string_view> StandardSampleRates() {
  return kStandardSampleRates;
}
std::span<const std::string_view> QualityLevels() {
  return kQualityLevels;
}

void FillPreferenceLists(WindowChoices& choices) {
  constexpr std::array<std::string_view, 2> kLetterbox = {"None", "Add LetterBox"};
  constexpr std::array<std::string_view, 3> kAspectRatios = {"Auto", "4:3", "16:9"};
  FillStandard(choices.ComboBoxLetterbox, kLetterbox);
  choices.ComboBoxLetterbox.Select(1);
  FillStandard(choices.ComboBoxAspectRatio, kAspectRatios);
}

void FillOutputFormatList(WindowChoices& choices) {
  FillOutputFormatList(choices.ComboOutputFormat);
}

bool ComboOutputFormatChange(WindowChoices& choices) {
  ChoiceList& formats = choices.ComboOutputFormat;
  // Headers and separators name no profile; neither does a position the list does not have.
  if (FindProfile(formats.SelectedText()) == nullptr) {
    formats.Select(choices.LastFormatIndex);
    return false;
  }
  RefreshProfileLists(choices);
  choices.ComboVideoQuality.Select(choices.SavedVideoQuality);
  choices.ComboAudioQuality.Select(choices.SavedAudioQuality);
  return true;
}

void RefreshProfileLists(WindowChoices& choices) {
  for (ChoiceList* list : {&choices.ComboVideoCodec, &choices.ComboVideoBitrate, &choices.ComboVideoSize,
                           &choices.ComboVideoFrameRate, &choices.ComboVideoSize1}) {
    list->Clear();
  }
  const Quality* profile = FindProfile(runtime::TrimBlanks(choices.ComboOutputFormat.SelectedText()));
  if (profile != nullptr) choices.CurrentFormatCode = profile->FormatCode;
  if (!choices.IsAudioOnlyFormat()) {
    FillVideoCodecList(choices);
    FillFrameSizeList(choices);
    FillVideoBitRateList(choices);
    FillFrameRateList(choices);
  }
  FillAudioCodecList(choices);
  FillAudioBitRateList(choices);
  FillSampleRateList(choices);
  FillQualityLists(choices);
  FillChannelList(choices);
  // Only a profile row is one a header choice may return to.
  if (profile != nullptr) choices.LastFormatIndex = choices.ComboOutputFormat.Selected;
}

void FillVideoCodecList(WindowChoices& choices) {
  FillItemsAsWritten(choices.ComboVideoCodec, CurrentProfile(choices).VideoCodecChoices);
}

void FillFrameSizeList(WindowChoices& choices) {
  ChoiceList& sizes = choices.ComboVideoSize;
  const std::string& field = CurrentProfile(choices).FrameSizeChoices;
  switch (FormOf(field)) {
    case FieldForm::kEmpty:
      FillStandard(sizes, kStandardFrameSizes);
      break;
    case FieldForm::kLookup:
      FillStandard(sizes, kStandardFrameSizes);
      SelectFound(sizes, LastContaining(sizes, CutMarker(field, kDefaultMarker)));
      break;
    case FieldForm::kOnly:
      FillOne(sizes, std::string(CutMarker(field, kOnlyMarker)));
      break;
    case FieldForm::kItems:
    case FieldForm::kSingle:
      FillItemsAsWritten(sizes, field);
      break;
  }
  choices.ComboVideoSize1 = sizes;
}

void FillVideoBitRateList(WindowChoices& choices) {
  const Quality& profile = CurrentProfile(choices);
  if (profile.VideoBitRateChoice.empty()) {
    FillStandard(choices.ComboVideoBitrate, kStandardVideoBitRates);
    return;
  }
  FillBitRateList(choices.ComboVideoBitrate,
                  {&profile.VideoRate1, &profile.VideoRate2, &profile.VideoRate3, &profile.VideoRate4,
                   &profile.VideoRate5},
                  profile.VideoBitRateChoice);
}

void FillFrameRateList(WindowChoices& choices) {
  ChoiceList& rates = choices.ComboVideoFrameRate;
  const std::string& field = CurrentProfile(choices).FrameRateChoices;
  switch (FormOf(field)) {
    case FieldForm::kEmpty:
      FillStandard(rates, kStandardFrameRates);
      break;
    case FieldForm::kOnly:
      FillOne(rates, WithUnit(CutMarker(field, kOnlyMarker), "fps"));
      break;
    case FieldForm::kItems:
    case FieldForm::kLookup:
    case FieldForm::kSingle:
      FillItems(rates, field, [](std::string_view item) {
        return Contains(item, "Auto") ? std::string(item) : WithUnit(item, "fps");
      });
      break;
  }
}

void FillAudioCodecList(WindowChoices& choices) {
  FillItemsAsWritten(choices.ComboAudioCodec, CurrentProfile(choices).AudioCodecChoices);
}

void FillAudioBitRateList(WindowChoices& choices) {
  const Quality& profile = CurrentProfile(choices);
  FillBitRateList(choices.ComboAudioBitrate,
                  {&profile.AudioRate1, &profile.AudioRate2, &profile.AudioRate3, &profile.AudioRate4,
                   &profile.AudioRate5},
                  profile.AudioBitRateChoice);
}

void FillSampleRateList(WindowChoices& choices) {
  ChoiceList& rates = choices.ComboSamplingRate;
  const std::string& field = CurrentProfile(choices).SampleRateChoices;
  switch (FormOf(field)) {
    case FieldForm::kEmpty:
      FillStandard(rates, kStandardSampleRates);
      break;
    case FieldForm::kLookup:
      FillStandard(rates, kStandardSampleRates);
      SelectFound(rates, LastContaining(rates, CutMarker(field, kDefaultMarker)));
      break;
    case FieldForm::kOnly:
      FillOne(rates, std::string(CutMarker(field, kOnlyMarker)));
      break;
    case FieldForm::kItems:
    case FieldForm::kSingle:
      FillItems(rates, field, [](std::string_view item) { return WithUnit(item, "Hz"); });
      break;
  }
}

void FillQualityLists(WindowChoices& choices) {
  for (ChoiceList* list : {&choices.ComboVideoQuality, &choices.ComboAudioQuality}) {
    FillStandard(*list, kQualityLevels);
    list->Select(kNormalQuality);
  }
}

void FillChannelList(WindowChoices& choices) {
  ChoiceList& channels = choices.ComboAudioChannels;
  const std::string& code = choices.CurrentFormatCode;
  channels.Clear();
  if (code != "3GP" && code != "3G2" && code != "AMR") channels.Add("Stereo");
  channels.Add("Mono");
  channels.Select(0);
}

void ComboVideoQualityChange(WindowChoices& choices, QualityControl changed) {
  switch (changed) {
    case QualityControl::kVideoQuality:
      FollowQuality(choices.ComboVideoQuality, choices.ComboVideoBitrate);
      break;
    case QualityControl::kAudioQuality:
      FollowQuality(choices.ComboAudioQuality, choices.ComboAudioBitrate);
      break;
    case QualityControl::kVideoBitrate:
      choices.ComboVideoQuality.Select(choices.ComboVideoBitrate.Selected);
      break;
    case QualityControl::kAudioBitrate:
      choices.ComboAudioQuality.Select(choices.ComboAudioBitrate.Selected);
      break;
  }
  choices.SavedVideoQuality = choices.ComboVideoQuality.Selected;
  choices.SavedAudioQuality = choices.ComboAudioQuality.Selected;
}

void ComboVideoFrameRateChange(WindowChoices& choices) {
  if (IsDiscProfile(choices))
    SelectPairedPosition(choices.ComboVideoFrameRate.Selected, choices.ComboVideoSize);
  choices.ComboVideoSize1.Select(choices.ComboVideoSize.Selected);
}

void ComboVideoSizeChange(WindowChoices& choices, bool changed_copy) {
  const ChoiceList& changed = changed_copy ? choices.ComboVideoSize1 : choices.ComboVideoSize;
  ChoiceList& other = changed_copy ? choices.ComboVideoSize : choices.ComboVideoSize1;
  other.Select(changed.Selected);
  if (IsDiscProfile(choices)) SelectPairedPosition(changed.Selected, choices.ComboVideoFrameRate);
}

void RestoreProfileChoices(WindowChoices& choices, int format_row, int video_quality, int audio_quality) {
  ChoiceList& formats = choices.ComboOutputFormat;
  // A stored row that is no profile (damaged settings, a list that has changed) would leave every parameter
  // list empty and the jobs without a container; the first-run row is used instead.
  const bool is_profile = format_row >= 0 && format_row < formats.Count() &&
                          FindProfile(formats.Entries[static_cast<std::size_t>(format_row)]) != nullptr;
  formats.Select(is_profile ? format_row : kFirstRunFormatRow);
  choices.LastFormatIndex = formats.Selected;
  // A stored position that is no quality level keeps the saved position.
  if (IsQualityLevel(video_quality)) choices.SavedVideoQuality = video_quality;
  if (IsQualityLevel(audio_quality)) choices.SavedAudioQuality = audio_quality;

  ComboOutputFormatChange(choices);
  choices.ComboVideoQuality.Select(choices.SavedVideoQuality);
  choices.ComboAudioQuality.Select(choices.SavedAudioQuality);
  ComboVideoQualityChange(choices, QualityControl::kVideoQuality);
  ComboVideoQualityChange(choices, QualityControl::kAudioQuality);
}

std::string EngineVideoCodecName(std::string_view shown) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kNames = {{
      {"h264", "libx264"},
      {"xvid", "libxvid"},
      {"divx", "mpeg4"},
      {"wmv3x", "wmv2"},
  }};
  return Translate(shown, kNames);
}

std::string EngineAudioCodecName(std::string_view shown) {
  // This library generation's encoder names: the built-in "aac" encoder, opencore's AMR-NB encoder.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kNames = {{
      {"aac", "aac"},
      {"mpeg4aac", "aac"},
      {"mp3", "libmp3lame"},
      {"wma7x", "wmav2"},
      {"amr_nb", "libopencore_amrnb"},
      {"vorbis", "libvorbis"},
  }};
  return Translate(shown, kNames);
}

}  // namespace profiles
