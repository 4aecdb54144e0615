#include "cli/record_text.h"

#include <cstdint>
#include <cstdio>

#include "profiles/job_numbers.h"

namespace cli {
namespace {

// Adds "name=value" when value differs from its cleared value.
class LineCollector {
 public:
  void Add(const char* name, const std::string& value, const std::string& cleared) {
    if (value != cleared) lines_.push_back(std::string(name) + "=" + value);
  }
  void Add(const char* name, std::int64_t value, std::int64_t cleared) {
    if (value != cleared) lines_.push_back(std::string(name) + "=" + std::to_string(value));
  }
  void Add(const char* name, int value, int cleared) {
    Add(name, static_cast<std::int64_t>(value), static_cast<std::int64_t>(cleared));
  }
  void Add(const char* name, bool value, bool cleared) {
    if (value != cleared) lines_.push_back(std::string(name) + "=" + (value ? "true" : "false"));
  }
  void Add(const char* name, float value, float cleared) {
    if (value != cleared) {
      lines_.push_back(std::string(name) + "=" + profiles::DecimalText(static_cast<double>(value)));
    }
  }
  void Add(const char* name, double value, double cleared) {
    if (value != cleared) lines_.push_back(std::string(name) + "=" + profiles::DecimalText(value));
  }
  void AddColor(const char* name, engine::TColor value, engine::TColor cleared) {
    if (value == cleared) return;
    char text[16];
    std::snprintf(text, sizeof text, "$%06X", static_cast<unsigned>(value));
    lines_.push_back(std::string(name) + "=" + text);
  }
  std::vector<std::string> Lines() && { return std::move(lines_); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace

std::vector<std::string> RecordLines(const engine::TInputOptions& options) {
  const engine::TInputOptions cleared;
  LineCollector lines;
  lines.Add("FileName", options.FileName, cleared.FileName);
  lines.Add("FileFormat", options.FileFormat, cleared.FileFormat);
  lines.Add("StartTime", options.StartTime, cleared.StartTime);
  lines.Add("ProgramID", options.ProgramID, cleared.ProgramID);
  lines.Add("ExtOptions", options.ExtOptions, cleared.ExtOptions);
  return std::move(lines).Lines();
}

std::vector<std::string> RecordLines(const engine::TOutputOptions& options) {
  const engine::TOutputOptions cleared;
  LineCollector lines;
#define TARVELLO_FIELD(name) lines.Add(#name, options.name, cleared.name)
  TARVELLO_FIELD(FileName);
  TARVELLO_FIELD(FileFormat);
  TARVELLO_FIELD(PacketSize);
  TARVELLO_FIELD(MuxRate);
  TARVELLO_FIELD(MuxDelay);
  TARVELLO_FIELD(MuxPreload);
  TARVELLO_FIELD(AudioCodec);
  TARVELLO_FIELD(AudioPreset);
  TARVELLO_FIELD(DisableAudio);
  TARVELLO_FIELD(AudioVolume);
  TARVELLO_FIELD(AudioChannels);
  TARVELLO_FIELD(AudioSampleRate);
  TARVELLO_FIELD(AudioBitrate);
  TARVELLO_FIELD(AudioBitrateTolerance);
  TARVELLO_FIELD(AudioLanguage);
  TARVELLO_FIELD(AudioSyncMethod);
  TARVELLO_FIELD(AudioTag);
  TARVELLO_FIELD(VideoCodec);
  TARVELLO_FIELD(VideoPreset);
  TARVELLO_FIELD(DisableVideo);
  TARVELLO_FIELD(FrameRate);
  TARVELLO_FIELD(FrameSize);
  TARVELLO_FIELD(FrameAspectRatio);
  TARVELLO_FIELD(CropTop);
  TARVELLO_FIELD(CropBottom);
  TARVELLO_FIELD(CropLeft);
  TARVELLO_FIELD(CropRight);
  TARVELLO_FIELD(PadTop);
  TARVELLO_FIELD(PadBottom);
  TARVELLO_FIELD(PadLeft);
  TARVELLO_FIELD(PadRight);
  lines.AddColor("PadColor", options.PadColor, cleared.PadColor);
  TARVELLO_FIELD(GopSize);
  TARVELLO_FIELD(VideoBitrate);
  TARVELLO_FIELD(VideoMaxRate);
  TARVELLO_FIELD(VideoMinRate);
  TARVELLO_FIELD(VideoBitrateTolerance);
  TARVELLO_FIELD(VideoBufSize);
  TARVELLO_FIELD(VideoSyncMethod);
  TARVELLO_FIELD(VideoTag);
  TARVELLO_FIELD(VideoFilters);
  TARVELLO_FIELD(VideoLanguage);
  TARVELLO_FIELD(SubtitleCodec);
  TARVELLO_FIELD(SubtitlePreset);
  TARVELLO_FIELD(DisableSubtitle);
  TARVELLO_FIELD(SubtitleLanguage);
  TARVELLO_FIELD(CopyTimestamps);
  TARVELLO_FIELD(StartTime);
  TARVELLO_FIELD(RecordingTime);
  TARVELLO_FIELD(Info.Timestamp);
  TARVELLO_FIELD(Info.Year);
  TARVELLO_FIELD(Info.Track);
  TARVELLO_FIELD(Info.Title);
  TARVELLO_FIELD(Info.Author);
  TARVELLO_FIELD(Info.Copyright);
  TARVELLO_FIELD(Info.Comment);
  TARVELLO_FIELD(Info.Album);
  TARVELLO_FIELD(Info.Genre);
  TARVELLO_FIELD(Target);
  TARVELLO_FIELD(TargetNorm);
  TARVELLO_FIELD(TargetFallbackNorm);
  TARVELLO_FIELD(CustomHook);
  TARVELLO_FIELD(Join);
  TARVELLO_FIELD(RecordingTimeByMax);
  TARVELLO_FIELD(ExtOptions);
#undef TARVELLO_FIELD
  return std::move(lines).Lines();
}

}  // namespace cli
