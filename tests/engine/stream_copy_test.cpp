// Stream copy end to end: real inputs, real muxers, the outputs checked with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "conversion_runner.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::TestFolder;
using media_test::DecodesCleanly;
using media_test::PacketChecksums;
using media_test::ProbeStreams;

constexpr double kVideoFrame = 1.0 / 25;
constexpr double kAacPacket = 1024.0 / 44100;

// The output's packets are a run of the input's packets, in order.
void ExpectPacketsCopied(const std::filesystem::path& input, const std::filesystem::path& output,
                         const std::string& input_stream, const std::string& output_stream) {
  const std::vector<std::string> in = PacketChecksums(input, input_stream);
  const std::vector<std::string> out = PacketChecksums(output, output_stream);
  ASSERT_FALSE(out.empty()) << output_stream;
  const auto first = std::find(in.begin(), in.end(), out.front());
  ASSERT_NE(first, in.end()) << "first copied packet of " << output_stream << " is not an input packet";
  ASSERT_LE(out.size(), static_cast<std::size_t>(in.end() - first));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), first)) << output_stream;
}

struct CopyCase {
  const char* Name;
  std::filesystem::path (*Input)();
  const char* Extension;
  const char* VideoCodec;
  const char* AudioCodec;
};

class StreamCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(StreamCopy, KeepsEveryPacketAndTheDuration) {
  const CopyCase& c = GetParam();
  const std::filesystem::path input = c.Input();
  ASSERT_FALSE(input.empty());
  const std::filesystem::path output = TestFolder() / (std::string("copy.") + c.Extension);
  const auto result = Convert(input, output, "", "vcodec=copy\nacodec=copy");
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_FALSE(result.ExceptionRaised) << result.ErrorText;

  const auto in = ProbeStreams(input);
  const auto out = ProbeStreams(output);
  ASSERT_EQ(out.size(), 2U);
  EXPECT_EQ(out[0].Kind, "video");
  EXPECT_EQ(out[0].Codec, c.VideoCodec);
  EXPECT_EQ(out[1].Kind, "audio");
  EXPECT_EQ(out[1].Codec, c.AudioCodec);
  EXPECT_EQ(out[0].Packets, in[0].Packets);
  EXPECT_EQ(out[1].Packets, in[1].Packets);
  EXPECT_NEAR(out[0].Duration, in[0].Duration, kVideoFrame);
  EXPECT_NEAR(out[1].Duration, in[1].Duration, kAacPacket);
  EXPECT_TRUE(DecodesCleanly(output));
  ExpectPacketsCopied(input, output, "v:0", "v:0");
  ExpectPacketsCopied(input, output, "a:0", "a:0");
}

INSTANTIATE_TEST_SUITE_P(Containers, StreamCopy,
                         ::testing::Values(CopyCase{"Mp4ToMkv", media_test::H264AacMp4, "mkv", "h264", "aac"},
                                           CopyCase{"Mp4ToMov", media_test::H264AacMp4, "mov", "h264", "aac"},
                                           CopyCase{"Mp4ToMp4", media_test::H264AacMp4, "mp4", "h264", "aac"},
                                           CopyCase{"MpegPsToMpg", media_test::Mpeg2Ps, "mpg", "mpeg2video",
                                                    "mp2"}),
                         [](const auto& param_info) { return std::string(param_info.param.Name); });

TEST(StreamCopyCut, StartAndLengthGiveThatPartOfTheInput) {
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path folder = TestFolder();
  struct Cut {
    const char* Name;
    const char* InputOptions;
    const char* OutputOptions;
  };
  // Key frames fall on whole seconds, so a cut at 1 s starts with a key frame either way.
  for (const Cut& cut : {Cut{"output-side", "", "vcodec=copy\nacodec=copy\nss=1\nt=1"},
                         Cut{"input-side", "ss=1", "vcodec=copy\nacodec=copy\nt=1"}}) {
    SCOPED_TRACE(cut.Name);
    const std::filesystem::path output = folder / (std::string(cut.Name) + ".mkv");
    const auto result = Convert(input, output, cut.InputOptions, cut.OutputOptions);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    const auto out = ProbeStreams(output);
    ASSERT_EQ(out.size(), 2U);
    EXPECT_NEAR(out[0].Duration, 1.0, kVideoFrame);
    EXPECT_NEAR(out[1].Duration, 1.0, kAacPacket);
    EXPECT_TRUE(DecodesCleanly(output));
    ExpectPacketsCopied(input, output, "v:0", "v:0");
    ExpectPacketsCopied(input, output, "a:0", "a:0");
  }
}

TEST(StreamCopySelection, MapAndDisableChooseTheStreams) {
  const std::filesystem::path input = media_test::Fixture(
      "two_audio.mkv",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 "
      "-f lavfi -i sine=frequency=880:duration=2 -map 0 -map 1 -map 2 -c:v mpeg4 -c:a mp2 -shortest");
  const std::filesystem::path folder = TestFolder();

  const auto mapped = Convert(input, folder / "mapped.mkv", "", "vcodec=copy\nacodec=copy\nmap=0:0\nmap=0:2");
  ASSERT_TRUE(mapped.Finished) << mapped.ErrorText;
  ExpectPacketsCopied(input, folder / "mapped.mkv", "a:1", "a:0");
  EXPECT_NE(PacketChecksums(input, "a:0"), PacketChecksums(folder / "mapped.mkv", "a:0"));

  struct Disabled {
    const char* Option;
    const char* Kind;
  };
  for (const Disabled& disabled : {Disabled{"vn=1", "audio"}, Disabled{"an=1", "video"}}) {
    SCOPED_TRACE(disabled.Option);
    const std::filesystem::path output = folder / (std::string(disabled.Kind) + "_only.mkv");
    const auto result =
        Convert(input, output, "", std::string("vcodec=copy\nacodec=copy\n") + disabled.Option);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    const auto out = ProbeStreams(output);
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0].Kind, disabled.Kind);
    EXPECT_TRUE(DecodesCleanly(output));
  }
}

}  // namespace
