// The catalogue of output formats: the rows of the output-format list (profiles, group headers and blank
// separators) and the profile table that gives each profile's container and every choice its parameter
// lists offer. Fixed data, compiled in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "profiles/choice_list.h"

namespace profiles {

// One output profile. Every field but the last is text; "" means the profile gives no value. The choice
// fields use the choice-list grammar of the parameter lists ("h263default-mpeg4", "640x480ONLY", ...).
struct Quality {
  std::string DisplayName;  // the output-format row text that selects this profile
  std::string FormatCode;   // container code in upper case; ".<lower case>" is the output extension
  std::string VideoRate1, VideoRate2, VideoRate3, VideoRate4, VideoRate5;  // kbit/s per quality level
  std::string AudioRate1, AudioRate2, AudioRate3, AudioRate4, AudioRate5;  // kbit/s, may hold a "."
  std::string VideoCodecChoices;
  std::string VideoBitRateChoice;
  std::string FrameSizeChoices;
  std::string FrameRateChoices;
  std::string AudioCodecChoices;
  std::string AudioBitRateChoice;
  std::string SampleRateChoices;
  std::int32_t Sequence = 0;  // the record's position in the table; nothing reads it
};

inline constexpr int kOutputFormatRowCount = 65;
inline constexpr int kProfileCount = 51;
// The row FillOutputFormatList selects, and the row a first run starts with.
inline constexpr int kInitialFormatRow = 3;
inline constexpr int kFirstRunFormatRow = 2;

// The 65 rows of the output-format list, in list order.
std::span<const std::string_view> OutputFormatRows();
// The 51 profiles.
std::span<const Quality> MagicTable();

// Empties the list, adds the 65 rows and selects row 3.
void FillOutputFormatList(ChoiceList& list);

// The first profile whose DisplayName equals text exactly (case-sensitive, no trimming), or null.
const Quality* FindProfile(std::string_view text);
// The profile of text, or a record whose every field is empty.
const Quality& ProfileOrEmpty(std::string_view text);

// A row text that holds two spaces in a row or "---" is a group header or a separator, never a profile.
bool IsProfileRow(std::string_view row_text);

// True for the audio-only container codes: "mp3", "mp2", "wma", "m4a", "amr", "wav", "ac3", "ogg", "ra",
// "au", "aac", in any case.
bool IsAudioOnlyFormat(std::string_view format_code);

}  // namespace profiles
