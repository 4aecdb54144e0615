// The parameter lists: filled from the chosen profile each time the output format changes, with one entry
// selected, and kept linked (quality level and bit rate, the disc profiles' PAL and NTSC size and rate, the
// two frame-size lists). Selecting from code never runs a change handler; the handlers below are what the
// user's own choice runs, after the list's Selected has been set.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "profiles/window_choices.h"

namespace profiles {

// The standard lists used when a profile gives nothing, or names a value to look up in them.
std::span<const std::string_view> StandardFrameSizes();     // 23 entries, "Original Size" first
std::span<const std::string_view> StandardFrameRates();     // 7 entries, "Auto" first
std::span<const std::string_view> StandardVideoBitRates();  // 13 entries
std::span<const std::string_view> StandardSampleRates();    // 8 entries
std::span<const std::string_view> QualityLevels();  // "Highest", "Higher", "Normal", "Lower", "Lowest"

// Start-up: the letterbox list ("Add LetterBox" selected) and the aspect-ratio list ("Auto" selected).
void FillPreferenceLists(WindowChoices& choices);
// Start-up: the 65 rows of the output-format list, row 3 selected.
void FillOutputFormatList(WindowChoices& choices);

// The output-format list's change handler, for the row now selected in ComboOutputFormat. A header or
// separator row is undone (LastFormatIndex selected again, nothing else changes) and false is returned.
// Otherwise every profile list is rebuilt, the saved quality positions are selected again (the bit-rate
// lists are not re-synchronised with them) and true is returned; the caller then writes
// CurrentFormatCode into its file list's "Output" column.
bool ComboOutputFormatChange(WindowChoices& choices);

// Rebuilds every profile-dependent list for the row text of ComboOutputFormat and sets CurrentFormatCode
// and LastFormatIndex. Audio-only profiles leave the video lists empty.
void RefreshProfileLists(WindowChoices& choices);

// One list each, for the profile of the current row text.
void FillVideoCodecList(WindowChoices& choices);
void FillFrameSizeList(WindowChoices& choices);  // also copies the list into ComboVideoSize1
void FillVideoBitRateList(WindowChoices& choices);
void FillFrameRateList(WindowChoices& choices);
void FillAudioCodecList(WindowChoices& choices);
void FillAudioBitRateList(WindowChoices& choices);
void FillSampleRateList(WindowChoices& choices);
void FillQualityLists(WindowChoices& choices);  // both back to "Normal"
void FillChannelList(WindowChoices& choices);

// The list whose choice the user changed, for the shared quality and bit-rate change handler.
enum class QualityControl { kVideoQuality, kAudioQuality, kVideoBitrate, kAudioBitrate };

// A quality level selects the bit rate at its position and a bit rate the quality level at its position;
// the saved quality positions then follow the quality lists. A quality level beyond the end of the bit-rate
// list (a profile with a single rate) selects the list's last entry, so the list always keeps a rate the
// job can use.
void ComboVideoQualityChange(WindowChoices& choices, QualityControl changed);
// The frame-rate list's change handler: the disc profiles' NTSC rate selects the NTSC size and the PAL rate
// the PAL size; ComboVideoSize1 then follows ComboVideoSize for every profile.
void ComboVideoFrameRateChange(WindowChoices& choices);
// The frame-size lists' change handler (changed_copy: the user changed ComboVideoSize1). The other size list
// takes the same position; for the disc profiles the frame rate follows the size.
void ComboVideoSizeChange(WindowChoices& choices, bool changed_copy);

// What the settings restore does at start-up: selects the stored output-format row and quality positions,
// runs the format change once, selects the quality positions again and runs the quality handler once for
// each quality list, so that both bit-rate lists stand at the quality positions.
void RestoreProfileChoices(WindowChoices& choices, int format_row, int video_quality, int audio_quality);

// The codec names the engine knows for the names the lists show (lower-cased and trimmed first; a name not
// in the translation passes on lower-cased and trimmed): "h264" -> "libx264", "xvid" -> "libxvid",
// "divx" -> "mpeg4", "wmv3x" -> "wmv2"; "aac" and "mpeg4aac" -> "aac", "mp3" -> "libmp3lame",
// "wma7x" -> "wmav2", "amr_nb" -> "libopencore_amrnb", "vorbis" -> "libvorbis".
std::string EngineVideoCodecName(std::string_view shown);
std::string EngineAudioCodecName(std::string_view shown);

}  // namespace profiles
