#include "profiles/job_builder.h"

#include <exception>
#include <utility>

#include "profiles/job_numbers.h"
#include "profiles/letterbox.h"
#include "profiles/parameter_lists.h"
#include "profiles/source_contents.h"
#include "profiles/unique_output_name.h"
#include "runtime/trim_blanks.h"

namespace profiles {
namespace {

constexpr int kLetterboxNone = 0;
constexpr int kDvdTarget = 3;
constexpr int kAutomaticNorm = 0;
constexpr int kPalNorm = 1;
constexpr int kNtscNorm = 2;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The text of the list's selection; a list without one cannot give a job its value.
std::string SelectedOf(const ChoiceList& list, std::string_view what) {
  if (list.Selected < 0 || list.Selected >= list.Count()) {
    throw JobChoiceError(std::string(what) + ": nothing is selected");
  }
  return list.SelectedText();
}

// "Auto": the source's own rate, rounded to a whole number (29.97 gives 30); 25 for a source without
// video, which a sound file whose only picture is its cover is. Any other entry: its number
// ("29.97 fps (NTSC)" gives "29.97").
std::string FrameRateText(const std::string& rate_text, const std::string& source_path,
                          probe::TCustomAVProbe& probe) {
  if (LowerCase(runtime::TrimBlanks(rate_text)) != "auto") {
    return std::string(rate_text.substr(0, rate_text.find(' ')));
  }
  const probe::ProbeCloser close_after_reading(probe);
  if (!probe.Open(source_path))
    throw JobChoiceError("Framerate: the source cannot be read: " + probe.LastError());
  if (probe.NonCoverVideoStreamCount() == 0) return "25";
  probe::TVideoStreamInfo info;
  if (!probe.GetVideoStreamInfo(probe.FirstNonCoverVideoStream(), info))
    throw JobChoiceError("Framerate: " + probe.LastError());
  if (info.FrameRateNum <= 0 || info.FrameRateDen <= 0) {
    throw JobChoiceError("Framerate: the source's frame rate is unknown (" +
                         std::to_string(info.FrameRateNum) + "/" + std::to_string(info.FrameRateDen) + ")");
  }
  return DecimalText(static_cast<double>(
      RoundHalfEven(static_cast<double>(info.FrameRateNum) / static_cast<double>(info.FrameRateDen))));
}

void FillVideoOptions(const WindowChoices& choices, const JobSource& source, probe::TCustomAVProbe& probe,
                      engine::TOutputOptions& options) {
  const std::string row_text = choices.ComboOutputFormat.SelectedText();
  options.VideoCodec = EngineVideoCodecName(SelectedOf(choices.ComboVideoCodec, "Video Codec"));
  if (Contains(row_text, "DivX")) options.VideoTag = "DIVX";
  if (options.VideoCodec == "libx264") options.VideoPreset = "libx264-default";

  // A source without video gets no output picture, so it gets no size either (its "Size" is blank).
  if (!runtime::TrimBlanks(source.SizeColumn).empty()) {
    const std::string size_text = SelectedOf(choices.ComboVideoSize, "Video Size");
    if (choices.ComboBoxLetterbox.Selected == kLetterboxNone) {
      ApplyFrameSize(size_text, source.SizeColumn, options);
    } else {
      ComputeLetterbox(size_text, source.SizeColumn, options);
    }
  }

  options.FrameRate = FrameRateText(SelectedOf(choices.ComboVideoFrameRate, "Framerate"), source.Path, probe);
  options.DisableVideo = false;
  const long long video_kbps =
      ReadListInteger(SelectedOf(choices.ComboVideoBitrate, "Video Bitrate"), "Video Bitrate");
  if (video_kbps <= 0 || video_kbps > 2'000'000) throw JobChoiceError("Video Bitrate: out of range");
  options.VideoBitrate = static_cast<int>(video_kbps * 1000);
}

void FillAudioOptions(const WindowChoices& choices, engine::TOutputOptions& options) {
  options.AudioCodec = EngineAudioCodecName(SelectedOf(choices.ComboAudioCodec, "Audio Codec"));
  const double audio_kbps =
      ReadListDecimal(SelectedOf(choices.ComboAudioBitrate, "Audio Bitrate"), "Audio Bitrate");
  if (audio_kbps <= 0.0 || audio_kbps > 2'000'000.0) throw JobChoiceError("Audio Bitrate: out of range");
  options.AudioBitrate = static_cast<int>(RoundHalfEven(audio_kbps * 1000.0));
  const long long sample_rate =
      ReadListInteger(SelectedOf(choices.ComboSamplingRate, "Sampling Rate"), "Sampling Rate");
  if (sample_rate <= 0 || sample_rate > 10'000'000) throw JobChoiceError("Sampling Rate: out of range");
  options.AudioSampleRate = static_cast<int>(sample_rate);

  const std::string channels =
      LowerCase(runtime::TrimBlanks(SelectedOf(choices.ComboAudioChannels, "Audio Channels")));
  options.AudioChannels = channels == "mono" ? 1 : 2;
  const std::string code = LowerCase(choices.CurrentFormatCode);
  if (code == "3gp" || code == "3g2" || code == "amr") options.AudioChannels = 1;

  options.AudioVolume = VolumeToEngine(choices.OutputVolume);
  if (options.AudioVolume == 0) options.DisableAudio = true;
}

// 25 and 50 frames per second are PAL's rates; the others (29.97, 30, 23.976, 24) are played on NTSC discs.
int NormOfFrameRate(const std::string& rate_text) {
  double rate = 0;
  try {
    rate = ReadListDecimal(rate_text, "Framerate");
  } catch (const JobChoiceError&) {
    return kNtscNorm;
  }
  const long long whole = RoundHalfEven(rate);
  return whole == 25 || whole == 50 ? kPalNorm : kNtscNorm;
}

JobStart Failed(std::string output_path, std::string reason) {
  JobStart start;
  start.OutputPath = std::move(output_path);
  start.FailureText = std::move(reason);
  return start;
}

}  // namespace

int VolumeToEngine(int spin_value) {
  static constexpr int kEngineVolume[] = {0, 50, 100, 150, 200, 256, 300, 350, 400, 450, 600};
  if (spin_value < 0 || spin_value > 200 || spin_value % 20 != 0) return 256;
  return kEngineVolume[spin_value / 20];
}

std::string OutputPathFor(const WindowChoices& choices, const std::string& source_path) {
  const std::string extension = "." + LowerCase(choices.CurrentFormatCode);
  const std::string in_folder = choices.OutputFolder + "/" + FileNameOf(source_path);
  return choices.Overwrite ? ReplaceExtension(in_folder, extension) : UniqueOutputName(in_folder, extension);
}

void FillOutputOptions(const WindowChoices& choices, const JobSource& source, probe::TCustomAVProbe& probe,
                       engine::TOutputOptions& options) {
  engine::InitOutputOptions(options);
  if (Contains(choices.ComboOutputFormat.SelectedText(), "DVD Compatible")) {
    options.Target = kDvdTarget;
    options.TargetNorm = kAutomaticNorm;
  }
  if (choices.IsAudioOnlyFormat()) {
    options.DisableVideo = true;
  } else {
    FillVideoOptions(choices, source, probe, options);
    // The disc's norm is read from the source's picture; sound alone takes the norm of the chosen rate.
    if (options.Target == kDvdTarget && runtime::TrimBlanks(source.SizeColumn).empty()) {
      options.TargetNorm = NormOfFrameRate(options.FrameRate);
    }
  }
  FillAudioOptions(choices, options);
}

JobStart BuildAndStartJob(engine::TCustomVidrel& vidrel, const WindowChoices& choices,
                          const JobSource& source, engine::TOutputOptions& output_options) {
  vidrel.ClearTasks();
  const std::string source_path(runtime::TrimBlanks(source.Path));
  std::string output_path;
  OutputExpectation expected;
  int task = -1;
  try {
    output_path = OutputPathFor(choices, source_path);

    engine::TInputOptions input_options;
    engine::InitInputOptions(input_options);
    input_options.FileName = source_path;
    task = vidrel.AddTask(source_path, &input_options);
    if (task < 0) return Failed(output_path, vidrel.LastErrorText());

    FillOutputOptions(choices, JobSource{source_path, source.SizeColumn}, vidrel.Probe(), output_options);
    const SourceContents contents = ReadSourceContents(vidrel.Probe(), source_path);
    const std::string nothing_to_convert =
        NothingToConvertReason(choices, contents, source_path, output_options.DisableAudio);
    if (!nothing_to_convert.empty()) {
      vidrel.ClearTasks();
      return Failed(output_path, nothing_to_convert);
    }
    if (!vidrel.SetOutputFile(task, output_path, &output_options)) {
      JobStart failed = Failed(output_path, vidrel.LastErrorText());
      vidrel.ClearTasks();
      return failed;
    }
    expected = ExpectedOutput(output_path, output_options, contents);
  } catch (const std::exception& error) {
    vidrel.ClearTasks();
    return Failed(output_path, error.what());
  }

  try {
    vidrel.StartTask(1);
  } catch (const std::exception& error) {
    // Nothing runs, so no termination will ever be reported: the job counts as not started.
    vidrel.StopTask(true);
    vidrel.ClearTasks();
    return Failed(output_path, error.what());
  }
  JobStart started;
  started.Started = true;
  started.OutputPath = output_path;
  started.Expected = std::move(expected);
  return started;
}

}  // namespace profiles
