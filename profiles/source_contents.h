// What a source holds that a conversion can use (a picture, sound), and the plain reason a job cannot
// convert it with the chosen profile.
#pragma once

#include <cstdint>
#include <string>

#include "probe/av_probe.h"
#include "profiles/window_choices.h"

namespace profiles {

struct SourceContents {
  bool Read = false;        // false: the probe could not read the file; opening it for the job will say why
  bool HasPicture = false;  // a video stream that is more than a cover picture
  bool HasSound = false;
  // Lengths in microseconds, -1 when unknown: the first picture stream's, the first sound stream's, and
  // the container's.
  std::int64_t PictureLength = -1;
  std::int64_t SoundLength = -1;
  std::int64_t Length = -1;
};

// Opens the file with probe, reads which kinds of streams it has and closes it again.
SourceContents ReadSourceContents(probe::TCustomAVProbe& probe, const std::string& path);

// Why a job with these choices would have nothing to write for this source ("'talk.mkv' has no sound to
// convert"), or empty when it has something. sound_switched_off: the volume is 0, so no sound is written.
std::string NothingToConvertReason(const WindowChoices& choices, const SourceContents& contents,
                                   const std::string& source_path, bool sound_switched_off);

}  // namespace profiles
