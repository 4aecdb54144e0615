// Cover art (a video stream marked as attached picture) is no video to convert: a sound file with its album
// picture converts as sound, a video file's cover neither feeds its video output nor gives it its size or
// rate, and only a stream map that names the picture makes a video of it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "conversion_runner.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::TestFolder;
using media_test::StreamEntry;

struct CoverCase {
  const char* Name;
  std::filesystem::path (*Input)();
  const char* Extension;
  const char* Options;
  std::vector<std::string> Kinds;  // of the output's streams, in order
  const char* Video;               // "<width>x<height>@<rate>" of the output's video, "" without
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const CoverCase& c, std::ostream* out) {
  *out << c.Name;
}

class CoverArt : public ::testing::TestWithParam<CoverCase> {};

TEST_P(CoverArt, IsNoVideoToConvert) {
  const CoverCase& c = GetParam();
  const std::filesystem::path input = c.Input();
  ASSERT_FALSE(input.empty());
  const std::filesystem::path output = TestFolder() / (std::string("out.") + c.Extension);
  const auto result = Convert(input, output, "", c.Options);
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  ASSERT_TRUE(result.Finished) << result.ErrorText;

  const std::vector<media_test::StreamFacts> streams = media_test::ProbeStreams(output);
  std::vector<std::string> kinds;
  for (const auto& stream : streams) {
    kinds.push_back(stream.Kind);
    if (stream.Kind == "audio") {
      EXPECT_NEAR(stream.Duration, 1.0, 0.1);
    }
  }
  EXPECT_EQ(kinds, c.Kinds);
  if (c.Video[0] != '\0') {
    EXPECT_EQ(StreamEntry(output, "v:0", "width") + "x" + StreamEntry(output, "v:0", "height") + "@" +
                  StreamEntry(output, "v:0", "r_frame_rate"),
              c.Video);
  }
  EXPECT_TRUE(media_test::DecodesCleanly(output));
}

std::filesystem::path CoverMp3() {
  return media_test::SoundWithCover("cover.mp3", "libmp3lame");
}
std::filesystem::path CoverM4a() {
  return media_test::SoundWithCover("cover.m4a", "aac");
}
std::filesystem::path CoverFlac() {
  return media_test::SoundWithCover("cover.flac", "flac");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CoverArt,
    ::testing::Values(
        // The format's own video codec, then named ones: the cover alone makes no video stream.
        CoverCase{"Mp3IntoMp4", CoverMp3, "mp4", "", {"audio"}, ""},
        CoverCase{
            "M4aIntoAviWithNamedCodecs", CoverM4a, "avi", "vcodec=mpeg4\nacodec=libmp3lame", {"audio"}, ""},
        CoverCase{"FlacIntoMatroska", CoverFlac, "mkv", "vcodec=libx264\nacodec=aac", {"audio"}, ""},
        // Beside real video the cover feeds nothing, and the size and rate are the video's.
        CoverCase{"VideoBesideCover",
                  media_test::VideoWithCover,
                  "avi",
                  "vcodec=mpeg4\nacodec=libmp3lame",
                  {"video", "audio"},
                  "160x120@24/1"},
        // A map asks for the picture itself: it becomes a video at the default rate.
        CoverCase{"MappedCover",
                  CoverMp3,
                  "mkv",
                  "map=0.1\nmap=0.0\nvcodec=mpeg4\nacodec=aac",
                  {"video", "audio"},
                  "200x200@25/1"}),
    [](const auto& param_info) { return std::string(param_info.param.Name); });

}  // namespace
