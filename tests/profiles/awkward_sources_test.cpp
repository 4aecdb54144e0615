// Sources that real users bring and that a quick test clip never is: odd sizes, phone frame rates, deep
// colour, a file cut short, a song with its album picture, a film with subtitles. Each, with the profile it
// once broke, converts into what the adjusted job promises or fails with a reason a user understands; none
// brings the program down.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "job_runner.h"
#include "runtime/library_loader.h"
#include "support/media_fixtures.h"

namespace {

namespace fs = std::filesystem;

fs::path OddSize() {
  return media_test::Fixture(
      "odd_size.mp4",
      "-f lavfi -i testsrc=size=641x361:rate=25:duration=1 -f lavfi -i sine=duration=1 "
      "-ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv444p -c:a aac -shortest");
}

fs::path PhoneRate15() {
  return media_test::Fixture(
      "rate_15.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=15:duration=1 -f lavfi -i sine=duration=1 "
      "-ac 2 -c:v libx264 -preset ultrafast -c:a aac -shortest");
}

fs::path PhoneRate12() {
  return media_test::Fixture(
      "rate_12.mp4", "-f lavfi -i testsrc=size=320x240:rate=12:duration=1 -c:v libx264 -preset ultrafast");
}

fs::path DeepColour() {
  return media_test::Fixture(
      "deep_444.mkv",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i sine=duration=1 "
      "-ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv444p10le -c:a aac -shortest");
}

// A download that stopped early: the H.264 stream never delivered its parameters (no pixel format).
fs::path CutShort() {
  const fs::path whole = media_test::Fixture(
      "cut_short_whole.mkv", "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -c:v libx264 -g 100");
  if (whole.empty()) return {};
  std::ifstream in(whole, std::ios::binary);
  std::string head(2500, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return media_test::WrittenFixture("cut_short.mkv", head);
}

fs::path SongWithCover() {
  return media_test::Fixture(
      "song_with_cover.mp3",
      "-f lavfi -i sine=duration=1 -f lavfi -i color=c=red:size=64x64:duration=0.04 "
      "-map 0:a -map 1:v -frames:v 1 -c:a libmp3lame -c:v png -disposition:v attached_pic");
}

fs::path FilmWithSubtitles() {
  const fs::path text = media_test::WrittenFixture("hello.srt", "1\n00:00:00,000 --> 00:00:00,800\nHello\n");
  return media_test::Fixture(
      "subtitled.mkv",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i sine=duration=1 "
      "-i " +
          media_test::Quoted(text) +
          " -map 0 -map 1 -map 2 -ac 2 -c:v libx264 -preset ultrafast -c:a aac -c:s srt");
}

// The kinds of the file's streams, sorted and joined by ","; album pictures are left out, as they are no
// video.
std::string StreamKinds(const fs::path& path) {
  const std::string listed =
      media_test::RunCommand(
          "ffprobe -v error -show_entries stream=codec_type:stream_disposition=attached_pic "
          "-of csv=p=0 " +
          media_test::Quoted(path) + " 2>/dev/null")
          .Output;
  std::vector<std::string> kinds;
  std::istringstream lines(listed);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || line.substr(comma + 1) == "1") continue;
    kinds.push_back(line.substr(0, comma));
  }
  std::sort(kinds.begin(), kinds.end());
  std::string joined;
  for (const std::string& kind : kinds)
    joined += (joined.empty() ? "" : ",") + kind;
  return joined;
}

struct AwkwardCase {
  const char* Name;
  fs::path (*Source)();
  const char* Profile;
  const char* Streams;  // what the output holds (StreamKinds); unused when the job must fail
  const char* Size;     // the output picture's size, "" to leave unchecked
  const char* Rate;     // the output's r_frame_rate, "" to leave unchecked
  const char* Reason;   // the job fails with a reason holding this text; null when it must convert
};

void PrintTo(const AwkwardCase& awkward, std::ostream* out) {
  *out << awkward.Name << " with \"" << awkward.Profile << "\"";
}

class AwkwardSource : public ::testing::TestWithParam<AwkwardCase> {};

TEST_P(AwkwardSource, ConvertsAsTheAdjustedJobPromisesOrSaysWhy) {
  const AwkwardCase& c = GetParam();
  const fs::path source = c.Source();
  ASSERT_FALSE(source.empty());
  const fs::path folder = engine_test::TestFolder();
  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  engine::TOutputOptions record;
  const profiles_test::JobRun run = profiles_test::RunJob(
      vidrel, profiles_test::FirstRunChoices(c.Profile, folder.string()), source.string(), record);

  if (c.Reason != nullptr) {
    const std::string reason = run.Start.Started ? run.ErrorText : run.Start.FailureText;
    EXPECT_FALSE(run.Start.Started && run.Finished) << "the job must fail";
    EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
    return;
  }
  ASSERT_TRUE(run.Start.Started) << run.Start.FailureText;
  ASSERT_TRUE(run.Finished) << run.ErrorText;
  const fs::path output = run.Start.OutputPath;
  EXPECT_EQ(StreamKinds(output), c.Streams);
  if (*c.Size != '\0') {
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "width") + "x" +
                  media_test::StreamEntry(output, "v:0", "height"),
              c.Size);
  }
  if (*c.Rate != '\0') {
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "r_frame_rate"), c.Rate);
  }
  EXPECT_TRUE(media_test::DecodesCleanly(output));
}

const AwkwardCase kCases[] = {
    {"OddSizeIntoXvid", OddSize, "AVI - XVID Video (*.avi)", "audio,video", "640x360", "", nullptr},
    {"OddSizeIntoWmv", OddSize, "WMV - Windows Media Video (*.wmv)", "audio,video", "640x360", "", nullptr},
    {"Rate15IntoMpeg1", PhoneRate15, "MPEG-1 Movie (*.mpg)", "audio,video", "", "24000/1001", nullptr},
    {"Rate12IntoMpeg1", PhoneRate12, "MPEG-1 Movie (*.mpg)", "video", "", "24000/1001", nullptr},
    {"DeepColourIntoUncompressedAvi", DeepColour, "AVI - Uncompress (*.avi)", "audio,video", "320x240", "",
     nullptr},
    {"DeepColourIntoMp4", DeepColour, "MP4 - MPEG4 Video (*.mp4)", "audio,video", "320x240", "", nullptr},
    {"CutShortIntoMp4", CutShort, "MP4 - MPEG4 Video (*.mp4)", "", "", "", "cut_short.mkv"},
    {"CutShortIntoMp3", CutShort, "MP3 - Mpeg Layer3 Audio (*.mp3)", "", "", "",
     "'cut_short.mkv' has no sound to convert"},
    {"SongWithCoverIntoMp4", SongWithCover, "MP4 - MPEG4 Video (*.mp4)", "audio", "", "", nullptr},
    {"SongWithCoverIntoAvi", SongWithCover, "AVI - DivX Video (*.avi)", "audio", "", "", nullptr},
    {"SongWithCoverIntoPhone", SongWithCover, "3GP - Mobile Video Format (*.3gp)", "audio", "", "", nullptr},
    {"SongWithCoverOntoDisc", SongWithCover, "DVD Compatible MPEG-2 Movie (*.mpg)", "audio,data", "", "",
     nullptr},
    {"SubtitlesIntoMkv", FilmWithSubtitles, "MKV - Matroska Video (*.mkv)", "audio,subtitle,video", "", "",
     nullptr},
    {"SubtitlesIntoMp4", FilmWithSubtitles, "MP4 - MPEG4 Video (*.mp4)", "audio,subtitle,video", "", "",
     nullptr},
    {"SubtitlesIntoAvi", FilmWithSubtitles, "AVI - DivX Video (*.avi)", "audio,video", "", "", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Sources, AwkwardSource, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<AwkwardCase>& awkward) {
                           return awkward.param.Name;
                         });

}  // namespace
