// Every profile of the catalogue, with the choices a first run of the window starts with, converts a short
// clip with sound into a file whose container, codecs, picture size, frame rate, sampling rate and channels
// are the ones the choices promise, and which decodes from end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "engine/engine_test_support.h"
#include "job_runner.h"
#include "profiles/job_numbers.h"
#include "profiles/output_formats.h"
#include "profiles/parameter_lists.h"
#include "runtime/library_loader.h"
#include "support/media_fixtures.h"

namespace {

using media_test::RunCommand;

// 1 s of 320x240 at 25 fps with 44.1 kHz stereo sound.
std::filesystem::path Clip() {
  return media_test::Fixture("profile_clip.mp4",
                             "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 "
                             "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 "
                             "-ac 2 -c:v mpeg4 -q:v 4 -c:a aac -b:a 96k -shortest");
}

// What ffprobe calls the codec each engine encoder writes.
std::string DecoderNameOf(const std::string& encoder) {
  static const std::map<std::string, std::string> kNames = {
      {"libx264", "h264"},   {"libxvid", "mpeg4"},    {"msmpeg4", "msmpeg4v3"},       {"flv", "flv1"},
      {"libmp3lame", "mp3"}, {"libvorbis", "vorbis"}, {"libopencore_amrnb", "amr_nb"}};
  const auto found = kNames.find(encoder);
  return found == kNames.end() ? encoder : found->second;
}

// The demuxer ffprobe reads each container code with.
std::string DemuxerOf(const std::string& code) {
  static const std::map<std::string, std::string> kDemuxers = {{"3GP", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                               {"3G2", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                               {"MOV", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                               {"MP4", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                               {"M4A", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                               {"AVI", "avi"},
                                                               {"ASF", "asf"},
                                                               {"WMV", "asf"},
                                                               {"WMA", "asf"},
                                                               {"VOB", "mpeg"},
                                                               {"MPG", "mpeg"},
                                                               {"FLV", "flv"},
                                                               {"MKV", "matroska,webm"},
                                                               {"RM", "rm"},
                                                               {"RA", "rm"},
                                                               {"SWF", "swf"},
                                                               {"AAC", "aac"},
                                                               {"AC3", "ac3"},
                                                               {"MP2", "mp3"},
                                                               {"MP3", "mp3"},
                                                               {"OGG", "ogg"},
                                                               {"WAV", "wav"},
                                                               {"AMR", "amr"}};
  return kDemuxers.at(code);
}

// The brand an ISO media file of each code carries.
std::string BrandOf(const std::string& code) {
  static const std::map<std::string, std::string> kBrands = {
      {"3GP", "3gp"}, {"3G2", "3g2"}, {"MOV", "qt"}, {"MP4", "isom"}, {"M4A", "M4A"}};
  const auto found = kBrands.find(code);
  return found == kBrands.end() ? std::string() : found->second;
}

// What ffprobe reads of a file, from one run: "format.format_name", "format.tags.major_brand", and for the
// first video and the first audio stream "video.<entry>" and "audio.<entry>" (codec_name, width, height,
// r_frame_rate, sample_rate, channels, codec_tag_string, nb_read_packets), plus the count of each kind.
std::map<std::string, std::string> ProbeReport(const std::filesystem::path& path) {
  const std::string listed =
      RunCommand(
          "ffprobe -v error -count_packets -show_entries format=format_name:format_tags=major_brand:"
          "stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate,channels,codec_tag_string,"
          "nb_read_packets -of flat " +
          media_test::Quoted(path) + " 2>/dev/null")
          .Output;
  std::map<std::string, std::string> flat;
  std::istringstream lines(listed);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string value = line.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    flat[line.substr(0, equals)] = value;
  }
  std::map<std::string, std::string> report;
  for (const auto& [key, value] : flat) {
    if (key.rfind("format.", 0) == 0) report[key] = value;
  }
  for (int index = 0; flat.count("streams.stream." + std::to_string(index) + ".codec_type") != 0; ++index) {
    const std::string prefix = "streams.stream." + std::to_string(index) + ".";
    const std::string kind = flat[prefix + "codec_type"];
    const int seen = std::atoi(report[kind + "s"].c_str());
    report[kind + "s"] = std::to_string(seen + 1);
    if (seen > 0) continue;
    for (const auto& [key, value] : flat) {
      if (key.rfind(prefix, 0) == 0) report[kind + "." + key.substr(prefix.size())] = value;
    }
  }
  return report;
}

double RateOf(const std::string& fraction) {
  const std::size_t slash = fraction.find('/');
  if (slash == std::string::npos) return std::atof(fraction.c_str());
  const double denominator = std::atof(fraction.c_str() + slash + 1);
  return denominator == 0.0 ? 0.0 : std::atof(fraction.substr(0, slash).c_str()) / denominator;
}

class ProfileConversion : public ::testing::TestWithParam<int> {};

TEST_P(ProfileConversion, GivesWhatItsDefaultChoicesPromise) {
  ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries));
  const std::filesystem::path clip = Clip();
  ASSERT_FALSE(clip.empty());
  const std::filesystem::path folder = engine_test::TestFolder();

  profiles::WindowChoices choices;
  profiles::FillPreferenceLists(choices);
  profiles::FillOutputFormatList(choices);
  profiles::RestoreProfileChoices(choices, GetParam(), 2, 2);
  choices.OutputFolder = folder.string();
  const std::string code = choices.CurrentFormatCode;
  SCOPED_TRACE(choices.ComboOutputFormat.SelectedText());

  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  engine::TOutputOptions output_options;
  const profiles_test::JobRun run = profiles_test::RunJob(vidrel, choices, clip.string(), output_options);
  ASSERT_TRUE(run.Start.Started) << run.Start.FailureText;
  ASSERT_TRUE(run.Finished) << run.ErrorText;
  const std::filesystem::path output = run.Start.OutputPath;
  EXPECT_EQ(output, folder / ("profile_clip." + profiles::LowerCase(code)));

  std::map<std::string, std::string> probed = ProbeReport(output);
  EXPECT_EQ(probed["format.format_name"], DemuxerOf(code));
  if (!BrandOf(code).empty()) {
    EXPECT_EQ(probed["format.tags.major_brand"].rfind(BrandOf(code), 0), 0U)
        << probed["format.tags.major_brand"];
  }

  // Audio: the chosen codec, sampling rate and channels.
  EXPECT_EQ(probed["audios"], "1");
  EXPECT_EQ(probed["audio.codec_name"],
            DecoderNameOf(profiles::EngineAudioCodecName(choices.ComboAudioCodec.SelectedText())));
  EXPECT_EQ(probed["audio.sample_rate"],
            std::to_string(profiles::ReadListInteger(choices.ComboSamplingRate.SelectedText(), "rate")));
  const bool mono = code == "3GP" || code == "3G2" || code == "AMR";
  EXPECT_EQ(probed["audio.channels"], mono ? "1" : "2");

  if (choices.IsAudioOnlyFormat()) {
    EXPECT_EQ(probed.count("videos"), 0U) << "an audio profile gives audio only";
  } else {
    ASSERT_EQ(probed["videos"], "1");
    EXPECT_EQ(probed["video.codec_name"],
              DecoderNameOf(profiles::EngineVideoCodecName(choices.ComboVideoCodec.SelectedText())));
    std::string size = choices.ComboVideoSize.SelectedText();
    size = size == "Original Size" ? "320x240" : size.substr(0, size.find(' '));
    EXPECT_EQ(probed["video.width"] + "x" + probed["video.height"], size);
    const std::string rate_text = choices.ComboVideoFrameRate.SelectedText();
    const double rate = rate_text == "Auto" ? 25.0 : profiles::ReadListDecimal(rate_text, "rate");
    EXPECT_NEAR(RateOf(probed["video.r_frame_rate"]), rate, 0.01) << probed["video.r_frame_rate"];
    // 1 s of pictures at that rate.
    EXPECT_NEAR(std::atoi(probed["video.nb_read_packets"].c_str()), rate, 2.0) << "frames in 1 s";
    if (choices.ComboOutputFormat.SelectedText() == "AVI - DivX Video (*.avi)") {
      EXPECT_EQ(probed["video.codec_tag_string"], "DIVX");
    }
  }
  EXPECT_TRUE(media_test::DecodesCleanly(output));

  // Read back as the front ends do after every job: what the job asked for, so it counts as done.
  const profiles::OutputExpectation& expected = run.Start.Expected;
  EXPECT_EQ(expected.Container, DemuxerOf(code));
  EXPECT_EQ(expected.SoundCodec, probed["audio.codec_name"]);
  EXPECT_EQ(expected.PictureCodec, choices.IsAudioOnlyFormat() ? "" : probed["video.codec_name"]);
  EXPECT_GT(expected.Length, 900000);
  EXPECT_EQ(profiles::CheckOutput(vidrel.Probe(), expected), "");
}

std::vector<int> ProfileRows() {
  std::vector<int> rows;
  const auto texts = profiles::OutputFormatRows();
  for (std::size_t row = 0; row < texts.size(); ++row) {
    if (profiles::IsProfileRow(texts[row])) rows.push_back(static_cast<int>(row));
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, ProfileConversion, ::testing::ValuesIn(ProfileRows()),
                         [](const ::testing::TestParamInfo<int>& row) {
                           return "row" + std::to_string(row.param);
                         });

}  // namespace
