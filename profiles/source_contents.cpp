#include "profiles/source_contents.h"

#include "runtime/library_loader.h"

namespace profiles {
namespace {

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

SourceContents ReadSourceContents(probe::TCustomAVProbe& probe, const std::string& path) {
  SourceContents contents;
  const probe::ProbeCloser close_after_reading(probe);
  if (!probe.Open(path)) return contents;
  contents.Read = true;
  const AVFormatContext* format = probe.FormatContext();
  for (unsigned index = 0; index < format->nb_streams; ++index) {
    const AVStream* stream = format->streams[index];
    switch (stream->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        // An album picture is a still that goes with the sound, not a video to convert.
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) contents.HasPicture = true;
        break;
      case AVMEDIA_TYPE_AUDIO:
        contents.HasSound = true;
        break;
      default:
        break;
    }
  }
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
