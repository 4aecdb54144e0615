// Subtitles never make a conversion fail: without a named encoder a subtitle track is copied where the
// container takes its codec, converted into the container's own text format where it is text, and otherwise
// left out with a warning that says why. Each output is checked with ffprobe and decoded, subtitles included.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "conversion_runner.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::LogCapture;
using engine_test::TestFolder;
using media_test::StreamEntry;

constexpr const char* kMpeg4Aac = "vcodec=mpeg4\nacodec=aac";

struct SubtitleCase {
  const char* Name;
  std::filesystem::path (*Input)();
  const char* Extension;
  const char* Options;
  const char* Codec;    // of the output's subtitle stream; "" when it has none
  bool Copied;          // its packets are the input's
  const char* Text;     // what its SubRip rendering holds; "" for pictures
  const char* LeftOut;  // the reason the warning gives; "" when nothing is left out
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const SubtitleCase& c, std::ostream* out) {
  *out << c.Name;
}

class SubtitleTrack : public ::testing::TestWithParam<SubtitleCase> {};

TEST_P(SubtitleTrack, GoesWhereTheContainerCarriesIt) {
  const SubtitleCase& c = GetParam();
  const std::filesystem::path input = c.Input();
  ASSERT_FALSE(input.empty());
  const std::filesystem::path output = TestFolder() / (std::string("out.") + c.Extension);
  LogCapture log;
  const auto result = Convert(input, output, "", c.Options);
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  // The last subtitle ends at 0.8 s; the progress follows the picture and the sound to their end.
  EXPECT_GE(result.LastProgressTime, 950000);

  std::vector<std::string> kinds;
  for (const auto& stream : media_test::ProbeStreams(output))
    kinds.push_back(stream.Kind);
  const bool has_subtitle = c.Codec[0] != '\0';
  std::vector<std::string> expected = {"video", "audio"};
  if (has_subtitle) expected.emplace_back("subtitle");
  EXPECT_EQ(kinds, expected);
  EXPECT_TRUE(media_test::DecodesCleanly(output));

  if (has_subtitle) {
    EXPECT_EQ(StreamEntry(output, "s:0", "codec_name"), c.Codec);
    const media_test::SubtitleFrames in = media_test::DecodeSubtitles(input);
    const media_test::SubtitleFrames out = media_test::DecodeSubtitles(output);
    ASSERT_EQ(in.Shown.size(), 1U);
    EXPECT_TRUE(out.Clean);
    ASSERT_EQ(out.Shown.size(), 1U);
    EXPECT_NEAR(out.Shown[0].first, in.Shown[0].first, 0.05);
    EXPECT_EQ(out.Shown[0].second, 1) << "regions";
    if (c.Copied) {
      EXPECT_EQ(media_test::PacketChecksums(output, "s:0"), media_test::PacketChecksums(input, "s:0"));
    }
    if (c.Text[0] != '\0') {
      EXPECT_NE(media_test::SubtitleText(output).find(c.Text), std::string::npos)
          << media_test::SubtitleText(output);
    }
  }
  const std::string warnings = log.Lines();
  if (c.LeftOut[0] != '\0') {
    EXPECT_NE(warnings.find("Subtitle stream #0.2 (" + StreamEntry(input, "s:0", "codec_name") +
                            ") is left out of '" + output.string() + "': " + c.LeftOut),
              std::string::npos)
        << warnings;
  } else {
    EXPECT_EQ(warnings.find("left out"), std::string::npos) << warnings;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, SubtitleTrack,
    ::testing::Values(
        SubtitleCase{"SubRipCopiedIntoMatroska", media_test::SubRipMatroska, "mkv", kMpeg4Aac, "subrip", true,
                     "Hello", ""},
        SubtitleCase{"SubRipAsMovTextInMp4", media_test::SubRipMatroska, "mp4", kMpeg4Aac, "mov_text", false,
                     "Hello", ""},
        SubtitleCase{"SubRipAsMovTextInMov", media_test::SubRipMatroska, "mov", kMpeg4Aac, "mov_text", false,
                     "Hello", ""},
        SubtitleCase{"SubRipAsMovTextIn3gp", media_test::SubRipMatroska, "3gp", kMpeg4Aac, "mov_text", false,
                     "Hello", ""},
        SubtitleCase{"SubRipLeftOutOfAvi", media_test::SubRipMatroska, "avi",
                     "vcodec=mpeg4\nacodec=libmp3lame", "", false, "",
                     "the avi format carries no text subtitles"},
        // A named text encoder is kept, and starts from the decoder's styles.
        SubtitleCase{"NamedAssEncoder", media_test::SubRipMatroska, "mkv",
                     "vcodec=mpeg4\nacodec=aac\nscodec=ass", "ass", false, "Hello", ""},
        // Pictures shown until the next one: the "no end" mark is no length an MP4 could store.
        SubtitleCase{"PicturesCopiedIntoMatroska", media_test::PictureSubtitleMatroska, "mkv", kMpeg4Aac,
                     "dvd_subtitle", true, "", ""},
        SubtitleCase{"PicturesCopiedIntoMp4", media_test::PictureSubtitleMatroska, "mp4", kMpeg4Aac,
                     "dvd_subtitle", true, "", ""},
        SubtitleCase{"PicturesLeftOutOfMov", media_test::PictureSubtitleMatroska, "mov", kMpeg4Aac, "", false,
                     "",
                     "the mov format does not carry dvd_subtitle subtitles, and picture subtitles are not "
                     "converted"}),
    [](const auto& param_info) { return std::string(param_info.param.Name); });

// A subtitle the encoder refuses (pictures for a text encoder the user named) costs that subtitle, not the
// conversion; only "xerror", which asks every error to end the run, makes it fail.
TEST(SubtitleFaults, ASubtitleThatCannotBeEncodedIsLeftOut) {
  const std::filesystem::path folder = TestFolder();
  const std::filesystem::path output = folder / "refused.mkv";
  const std::string options = std::string(kMpeg4Aac) + "\nscodec=ass";
  LogCapture log;
  const auto result = Convert(media_test::PictureSubtitleMatroska(), output, "", options);
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_NE(log.Lines().find("Encoding a subtitle of stream #0.2 (left out) for '" + output.string() +
                             "': Invalid argument"),
            std::string::npos)
      << log.Lines();
  std::vector<std::string> kinds;
  for (const auto& stream : media_test::ProbeStreams(output))
    kinds.push_back(stream.Kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"video", "audio", "subtitle"}));
  EXPECT_TRUE(media_test::DecodesCleanly(output));
  const media_test::SubtitleFrames subtitles = media_test::DecodeSubtitles(output);
  EXPECT_TRUE(subtitles.Clean);
  EXPECT_TRUE(subtitles.Shown.empty());

  const auto strict =
      Convert(media_test::PictureSubtitleMatroska(), folder / "strict.mkv", "", options + "\nxerror=1");
  EXPECT_FALSE(strict.Finished);
  EXPECT_EQ(strict.ErrorText, "Subtitle encoding failed");
}

// Subtitles are sparse: the last one's end is no measure of how far the output has come, so a subtitle track
// does not keep the run going past the recording time (nor hold the progress back, checked above): the run
// ends where the same run without subtitles ends.
TEST(SubtitleTiming, ARecordingTimeEndsTheRunAsWithoutSubtitles) {
  const std::filesystem::path folder = TestFolder();
  const std::string options = std::string(kMpeg4Aac) + "\nt=0.5";
  const auto with = Convert(media_test::SubRipMatroska(), folder / "with.mkv", "", options);
  const auto without = Convert(media_test::SubRipMatroska(), folder / "without.mkv", "", options + "\nsn=1");
  ASSERT_TRUE(with.Finished && without.Finished) << with.ErrorText << without.ErrorText;
  const std::vector<media_test::StreamFacts> subtitled = media_test::ProbeStreams(folder / "with.mkv");
  const std::vector<media_test::StreamFacts> plain = media_test::ProbeStreams(folder / "without.mkv");
  ASSERT_EQ(subtitled.size(), 3U);
  ASSERT_EQ(plain.size(), 2U);
  for (std::size_t index = 0; index < plain.size(); ++index) {
    EXPECT_EQ(subtitled[index].Kind, plain[index].Kind);
    EXPECT_EQ(subtitled[index].Packets, plain[index].Packets) << plain[index].Kind;
  }
  EXPECT_LT(plain[0].Packets, 25) << "the recording time shortens the 25-frame clip";
  EXPECT_TRUE(media_test::DecodesCleanly(folder / "with.mkv"));
}

// An explicit choice is the user's: a SubRip copy into MP4, which cannot store SubRip, still fails.
TEST(SubtitleChoice, AnExplicitCopyIsNotSecondGuessed) {
  const std::filesystem::path output = TestFolder() / "copy.mp4";
  const auto result =
      Convert(media_test::SubRipMatroska(), output, "", std::string(kMpeg4Aac) + "\nscodec=copy");
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  EXPECT_FALSE(result.Finished);
  EXPECT_NE(result.ErrorText.find("Could not write header"), std::string::npos) << result.ErrorText;
}

}  // namespace
