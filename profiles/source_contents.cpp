#include "profiles/source_contents.h"

#include "profiles/unique_output_name.h"

namespace profiles {

SourceContents ReadSourceContents(probe::TCustomAVProbe& probe, const std::string& path) {
  SourceContents contents;
  const probe::ProbeCloser close_after_reading(probe);
  if (!probe.Open(path)) return contents;
  contents.Read = true;
  // An album picture is a still that goes with the sound, not a video to convert.
  contents.HasPicture = probe.NonCoverVideoStreamCount() > 0;
  contents.HasSound = probe.AudioStreamCount() > 0;
  probe::TStreamSummary stream;
  if (contents.HasPicture && probe.GetStreamSummary(probe.FirstNonCoverVideoStream(), stream)) {
    contents.PictureLength = stream.DurationUS;
  }
  if (contents.HasSound && probe.GetStreamSummary(probe.FirstAudioStream(), stream)) {
    contents.SoundLength = stream.DurationUS;
  }
  probe::TFileStreamInfo file;
  if (probe.GetFileStreamInfo(file)) contents.Length = file.Duration;
  return contents;
}

std::string NothingToConvertReason(const WindowChoices& choices, const SourceContents& contents,
                                   const std::string& source_path, bool sound_switched_off) {
  if (!contents.Read) return {};
  const std::string name = "'" + FileNameOf(source_path) + "'";
  if (choices.IsAudioOnlyFormat()) {
    if (!contents.HasSound) return name + " has no sound to convert";
    if (sound_switched_off) return "The volume is 0: " + name + " would be converted into no sound at all";
    return {};
  }
  if (contents.HasPicture) return {};
  if (!contents.HasSound) return name + " has neither a picture nor sound to convert";
  if (sound_switched_off) {
    return name + " has no picture to convert, and its sound is switched off (volume 0)";
  }
  return {};
}

}  // namespace profiles
