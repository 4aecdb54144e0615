// How an output options record becomes options of its task: in a fixed order, so that a field of the record
// overrides the same option given in its option text, and a target's settings are overridden by both.
#include <ctime>
#include <string>

#include "engine/creation_time.h"
#include "engine/option_groups.h"
#include "engine/option_value_text.h"
#include "engine/vidrel.h"

namespace engine {
namespace {

const char* TargetTypeText(int target) {
  switch (target) {
    case 1:
      return "vcd";
    case 2:
      return "svcd";
    default:
      return "dvd";
  }
}

const char* NormText(int norm) {
  switch (norm) {
    case 1:
      return "pal";
    case 2:
      return "ntsc";
    default:
      return "auto";
  }
}

void SetIfPositive(TFFmpeg& task, const char* name, int value) {
  if (value > 0) task.SetOption(name, std::to_string(value));
}

void SetIfNotNegative(TFFmpeg& task, const char* name, int value) {
  if (value >= 0) task.SetOption(name, std::to_string(value));
}

void SetIfPositive(TFFmpeg& task, const char* name, float value) {
  if (value > 0) task.SetOption(name, FloatText(value));
}

void SetIfNotEmpty(TFFmpeg& task, const char* name, const std::string& value) {
  if (!value.empty()) task.SetOption(name, value);
}

void SetFlag(TFFmpeg& task, const char* name, bool value) {
  if (value) task.SetOption(name, "1");
}

void ApplyStreamInfo(TFFmpeg& task, const TStreamInfo& info) {
  if (info.Timestamp == 0.0) {
    task.SetRecTimestamp(static_cast<std::int64_t>(std::time(nullptr)));
  } else if (info.Timestamp > 0.0) {
    task.SetRecTimestamp(CreationTimeSeconds(info.Timestamp));
  }
  const auto add_metadata = [&task](const char* key, const std::string& value) {
    task.SetOption("metadata", std::string(key) + "=" + value);
  };
  if (info.Year > 0) add_metadata("year", std::to_string(info.Year));
  if (info.Track > 0) add_metadata("track", std::to_string(info.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre},
  };
  for (const auto& [key, value] : texts) {
    if (!value->empty()) add_metadata(key, *value);
  }
}

}  // namespace

void TCustomVidrel::ApplyOutputOptions(TFFmpeg& task, TOutputOptions& o) {
  if (o.Target >= 1 && o.Target <= 3) {
    task.SetTarget(TargetTypeText(o.Target), NormText(o.TargetNorm),
                   o.TargetFallbackNorm == 1 ? "pal" : "ntsc");
  }

  task.ApplyOptionText(o.ExtOptions, ogCodecNames);
  SetIfNotEmpty(task, "acodec", o.AudioCodec);
  SetIfNotEmpty(task, "vcodec", o.VideoCodec);
  SetIfNotEmpty(task, "scodec", o.SubtitleCodec);

  task.ApplyOptionText(o.ExtOptions, ogPresets);
  SetIfNotEmpty(task, "apre", o.AudioPreset);
  SetIfNotEmpty(task, "vpre", o.VideoPreset);
  SetIfNotEmpty(task, "spre", o.SubtitlePreset);

  task.ApplyOptionText(o.ExtOptions, ogGeneral);

  SetIfNotEmpty(task, "f", o.FileFormat);
  SetIfPositive(task, "packetsize", o.PacketSize);
  SetIfPositive(task, "muxrate", o.MuxRate);
  SetIfPositive(task, "muxdelay", o.MuxDelay);
  SetIfPositive(task, "muxpreload", o.MuxPreload);
  SetFlag(task, "an", o.DisableAudio);
  SetIfNotNegative(task, "vol", o.AudioVolume);
  SetIfPositive(task, "ac", o.AudioChannels);
  SetIfPositive(task, "ar", o.AudioSampleRate);
  SetIfPositive(task, "ab", o.AudioBitrate);
  SetIfPositive(task, "abt", o.AudioBitrateTolerance);
  task.SetOption("alang", o.AudioLanguage);
  task.SetOption("async", std::to_string(o.AudioSyncMethod));
  SetIfNotEmpty(task, "atag", o.AudioTag);
  SetFlag(task, "vn", o.DisableVideo);
  SetIfNotEmpty(task, "r", o.FrameRate);
  SetIfNotEmpty(task, "aspect", o.FrameAspectRatio);
  SetIfNotNegative(task, "croptop", o.CropTop);
  SetIfNotNegative(task, "cropbottom", o.CropBottom);
  SetIfNotNegative(task, "cropleft", o.CropLeft);
  SetIfNotNegative(task, "cropright", o.CropRight);
  SetIfNotNegative(task, "padtop", o.PadTop);
  SetIfNotNegative(task, "padbottom", o.PadBottom);
  SetIfNotNegative(task, "padleft", o.PadLeft);
  SetIfNotNegative(task, "padright", o.PadRight);
  // Colours are plain RGB values here (no system colours to resolve).
  task.SetOption("padcolor", std::to_string(o.PadColor & 0xFFFFFFU));
  SetIfPositive(task, "g", o.GopSize);
  SetIfPositive(task, "vb", o.VideoBitrate);
  SetIfPositive(task, "maxrate", o.VideoMaxRate);
  SetIfPositive(task, "minrate", o.VideoMinRate);
  SetIfPositive(task, "bt", o.VideoBitrateTolerance);
  SetIfPositive(task, "bufsize", o.VideoBufSize);
  task.SetOption("vsync", std::to_string(o.VideoSyncMethod));
  SetIfNotEmpty(task, "vtag", o.VideoTag);
  task.SetOption("vlang", o.VideoLanguage);
  SetFlag(task, "sn", o.DisableSubtitle);
  task.SetOption("slang", o.SubtitleLanguage);
  SetFlag(task, "copyts", o.CopyTimestamps);
  if (o.StartTime != kUnsetTime) task.SetOption("ss", MicrosecondsText(o.StartTime));
  if (o.RecordingTime != kUnsetTime) task.SetOption("t", MicrosecondsText(o.RecordingTime));
  task.SetRecordingTimeByMax(o.RecordingTimeByMax);
  ApplyStreamInfo(task, o.Info);

  // The size comes after the crop values: cropping reduces the current frame size.
  task.ApplyOptionText(o.ExtOptions, ogFrameSize);
  SetIfNotEmpty(task, "s", o.FrameSize);

  task.ApplyOptionText(o.ExtOptions, ogVideoFilters);
  SetIfNotEmpty(task, "vfilters", o.VideoFilters);

  if (o.CustomHook) {
    task.OnTaskHook = [this](TCustomFFmpeg& t, runtime::Bitmap& bitmap, int frame, std::int64_t pts,
                             bool& update,
                             bool& stop_hook) { DoCustomHook(t, bitmap, frame, pts, update, stop_hook); };
  }
}

}  // namespace engine
