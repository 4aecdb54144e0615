// Sources the encoders or containers do not take as they are (a frame rate, a picture size, a pixel format)
// and sources whose stream parameters are unknown. Each converts into a file that decodes, with the
// adjustment logged, or fails with a reason naming the file and the stream; nothing aborts the process.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "conversion_runner.h"
#include "runtime/logger.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::MakeFile;
using engine_test::TestFolder;
using media_test::StreamEntry;

// The llInfo and llWarning lines (and those above) logged while it exists.
class LogLines {
 public:
  LogLines() {
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog(
        [this](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
          if (level > runtime::llInfo) return;
          const std::lock_guard lock(mutex_);
          text_ += line + "\n";
        });
  }
  ~LogLines() {
    runtime::Logger().SetOnLog(nullptr);
    runtime::Logger().SetTriggerEventInMainThread(true);
  }
  bool Has(const std::string& part) const {
    const std::lock_guard lock(mutex_);
    return text_.find(part) != std::string::npos;
  }
  std::string Text() const {
    const std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The first `bytes` bytes of the file, as a file of the test's own.
std::filesystem::path Prefix(const std::filesystem::path& source, const std::filesystem::path& target,
                             std::size_t bytes) {
  std::string content(bytes, '\0');
  std::ifstream in(source, std::ios::binary);
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  return MakeFile(target, content);
}

// One second of the test picture, without sound, encoded with `encoding` (codec and pixel format).
std::filesystem::path Picture(const std::string& name, const std::string& size, int rate,
                              const std::string& encoding) {
  return media_test::Fixture("awkward_" + name, "-f lavfi -i testsrc=size=" + size + ":rate=" +
                                                    std::to_string(rate) + ":duration=1 " + encoding);
}

// Pictures of the first video stream, counted by decoding it (an MPEG program stream leaves many packets
// without a presentation time, so their times tell little).
int DecodedPictures(const std::filesystem::path& file) {
  const auto counted = media_test::RunCommand(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
      media_test::Quoted(file) + " 2>/dev/null");
  return counted.Status == 0 ? std::atoi(counted.Output.c_str()) : -1;
}

double RateOf(const std::string& fraction) {
  const std::size_t slash = fraction.find('/');
  return std::stod(fraction.substr(0, slash)) / std::stod(fraction.substr(slash + 1));
}

// The displayed shape: width / height corrected by the sample aspect ratio ("1:1", "799:800", "0:1").
double DisplayAspect(const std::filesystem::path& file) {
  const double width = std::stod(StreamEntry(file, "v:0", "width"));
  const double height = std::stod(StreamEntry(file, "v:0", "height"));
  const std::string sample = StreamEntry(file, "v:0", "sample_aspect_ratio");
  const std::size_t colon = sample.find(':');
  double ratio = 1;
  if (colon != std::string::npos && std::stod(sample.substr(colon + 1)) > 0 &&
      std::stod(sample.substr(0, colon)) > 0) {
    ratio = std::stod(sample.substr(0, colon)) / std::stod(sample.substr(colon + 1));
  }
  return width * ratio / height;
}

TEST(UnknownStreamParameters, FailTheJobWithTheFileAndTheStream) {
  const std::filesystem::path folder = TestFolder();
  // H.264 in Matroska cut before the stream ever delivered its parameters: the picture format is unknown.
  const std::filesystem::path whole_video =
      media_test::Fixture("awkward_h264_for_cutting.mkv",
                          "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -c:v libx264 -g 100");
  const std::filesystem::path cut_video = Prefix(whole_video, folder / "trunc.mkv", 2500);
  ASSERT_EQ(StreamEntry(cut_video, "v:0", "pix_fmt"), "unknown");
  // A transport stream cut before its first audio packet: the sound's rate is unknown.
  const std::filesystem::path whole_ts = media_test::Fixture(
      "awkward_for_cutting.ts",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2 -c:v mpeg4 -c:a aac "
      "-f mpegts");
  const std::filesystem::path cut_ts = Prefix(whole_ts, folder / "cut.ts", 6000);
  ASSERT_EQ(StreamEntry(cut_ts, "a:0", "sample_rate"), "0");

  const std::string no_picture_format =
      "Input stream #0.0 (Video) of '" + cut_video.string() +
      "' has no known picture format or size: the file may be damaged or cut short";
  const std::string no_sample_rate =
      "Input stream #0.1 (Audio) of '" + cut_ts.string() +
      "' has no known sample format or rate: the file may be damaged or cut short";
  struct Case {
    const char* Name;
    std::filesystem::path Input;
    const char* Output;
    const char* Options;
    const std::string& Reason;
  };
  const Case cases[] = {
      {"scaled for an encoder with a format list", cut_video, "out.mp4", "vcodec=mpeg4", no_picture_format},
      {"an encoder that takes any format", cut_video, "out.avi", "vcodec=rawvideo", no_picture_format},
      {"through a filter graph", cut_video, "out.mkv", "vfilters=null\nvcodec=mpeg4", no_picture_format},
      {"sound with no rate asked for", cut_ts, "out.mkv", "vcodec=mpeg4\nacodec=mp2", no_sample_rate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto result = Convert(c.Input, folder / c.Output, "", c.Options);
    ASSERT_TRUE(result.OutputSet) << result.ErrorText;
    EXPECT_FALSE(result.Finished);
    EXPECT_TRUE(result.ExceptionRaised);
    EXPECT_EQ(result.ErrorText, c.Reason);
  }

  // With a rate asked for, the sound needs none from the file: the decoded frames bring their own.
  const auto rate_given =
      Convert(cut_ts, folder / "rate_given.mkv", "", "vcodec=mpeg4\nacodec=mp2\nar=44100");
  EXPECT_TRUE(rate_given.Finished) << rate_given.ErrorText;
  EXPECT_EQ(StreamEntry(folder / "rate_given.mkv", "a:0", "sample_rate"), "44100");
}

TEST(AwkwardFrameRates, MpegOneGetsTheNearestRateOfTheStandard) {
  const std::filesystem::path folder = TestFolder();
  struct Case {
    int SourceRate;
    const char* Options;
    const char* Rate;  // of the output
    bool Adjusted;     // the adjustment is logged
  };
  const Case cases[] = {
      {15, "vcodec=mpeg1video", "24000/1001", true},
      {12, "vcodec=mpeg1video", "24000/1001", true},
      {25, "vcodec=mpeg1video", "25/1", false},
      // The unofficial rates the encoder lists are taken when the compliance allows them.
      {15, "vcodec=mpeg1video\nstrict=unofficial", "15/1", false},
      // MPEG-2 codes 15 fps through its frame rate extension.
      {15, "vcodec=mpeg2video", "15/1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.SourceRate) + " fps, " + c.Options);
    const std::filesystem::path input =
        Picture("rate" + std::to_string(c.SourceRate) + ".mkv", "160x120", c.SourceRate, "-c:v mpeg4");
    const std::filesystem::path output = folder / "out.mpg";
    LogLines log;
    const auto result = Convert(input, output, "", c.Options);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    EXPECT_EQ(StreamEntry(output, "v:0", "r_frame_rate"), c.Rate);
    // One second of pictures at the output's rate: the pictures are repeated to fill it.
    EXPECT_NEAR(DecodedPictures(output), RateOf(c.Rate), 2.5);
    EXPECT_TRUE(media_test::DecodesCleanly(output));
    const std::string line = "the mpeg1video encoder does not take " + std::to_string(c.SourceRate) +
                             "/1 frames per second; it gets the nearest rate it takes, " + c.Rate;
    EXPECT_EQ(log.Has(line), c.Adjusted) << log.Text();
  }
}

// One second of 10 fps pictures whose times jump by `jump` seconds after the fifth, as a damaged recording's
// may: Motion JPEG in Matroska keeps the times as they are.
std::filesystem::path JumpingTimes(const std::string& name, int jump) {
  return media_test::Fixture("awkward_jump_" + name + ".mkv",
                             "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -vf \"setpts='PTS+gte(N,5)*" +
                                 std::to_string(jump) + "/TB'\" -fps_mode passthrough -c:v mjpeg");
}

// A constant frame rate fills a gap in the times with copies of the picture before it, but never past the
// length or the size asked for, and a gap no recording has (more than 30 hours at 30 fps) is not filled.
TEST(AwkwardTimestamps, AJumpIsFilledOnlyWithinTheLengthAndSizeAsked) {
  const std::filesystem::path folder = TestFolder();
  const std::filesystem::path two_hours = JumpingTimes("2h", 7200);
  struct Case {
    const char* Name;
    std::filesystem::path Input;
    const char* Options;
    int MinPictures;
    int MaxPictures;
    std::uintmax_t MaxBytes;
    bool GapSkipped;  // logged as too large a duplication
  };
  const Case cases[] = {
      // Five pictures, then copies of the fifth up to the second asked for (and the next picture, which ends
      // the run).
      {"a length", two_hours, "vcodec=mpeg4\nr=10\nt=1", 10, 11, 100000, false},
      // 72,000 copies would be 14 MB: they stop at the size limit.
      {"a size", two_hours, "vcodec=mpeg4\nr=10\nfs=100000", 50, 5000, 150000, false},
      {"a jump of 111 hours", JumpingTimes("111h", 400000), "vcodec=mpeg4\nr=10", 5, 5, 100000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::filesystem::path output = folder / "jump.avi";
    std::filesystem::remove(output);
    LogLines log;
    const auto result = Convert(c.Input, output, "", c.Options);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    const int pictures = DecodedPictures(output);
    EXPECT_GE(pictures, c.MinPictures);
    EXPECT_LE(pictures, c.MaxPictures);
    EXPECT_LE(std::filesystem::file_size(output), c.MaxBytes);
    EXPECT_TRUE(media_test::DecodesCleanly(output));
    EXPECT_EQ(log.Has("frame duplication too large, skipping"), c.GapSkipped) << log.Text();
  }
}

// A mono 16-bit WAV whose header claims `rate` samples a second, with 2000 samples of silence.
std::filesystem::path WavClaiming(const std::filesystem::path& file, std::uint32_t rate) {
  std::string bytes;
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
      bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const std::uint32_t data_size = 4000;
  bytes += "RIFF";
  put(36 + data_size, 4);
  bytes += "WAVEfmt ";
  put(16, 4);
  put(1, 2);  // PCM
  put(1, 2);  // one channel
  put(rate, 4);
  put(rate * 2, 4);
  put(2, 2);
  put(16, 2);
  bytes += "data";
  put(data_size, 4);
  bytes.append(data_size, '\0');
  return MakeFile(file, bytes);
}

// A rate no recording has (a damaged header's) fails the re-encoding at once with the reason, instead of the
// resampler working for many seconds to fail all the same.
TEST(AwkwardSampleRates, RatesTooFarApartFailWithTheReason) {
  const std::filesystem::path folder = TestFolder();
  const std::filesystem::path input = WavClaiming(folder / "600MHz.wav", 600000000);
  const auto result = Convert(input, folder / "out.mp2", "", "acodec=mp2\nar=22050");
  EXPECT_FALSE(result.Finished);
  EXPECT_NE(result.ErrorText.find("Can not resample 1 channels @ 600000000 Hz to 1 channels @ 22050 Hz: the "
                                  "rates are too far apart"),
            std::string::npos)
      << result.ErrorText;
  // A real pair far apart still converts: 192 kHz into 8 kHz.
  const std::filesystem::path high = WavClaiming(folder / "192kHz.wav", 192000);
  const auto converted = Convert(high, folder / "out8k.wav", "", "acodec=pcm_s16le\nar=8000");
  ASSERT_TRUE(converted.Finished) << converted.ErrorText;
  EXPECT_EQ(StreamEntry(folder / "out8k.wav", "a:0", "sample_rate"), "8000");
}

struct SizeCase {
  const char* Name;
  const char* Extension;
  const char* Options;
  int Width;
  int Height;
  bool AspectStored = true;  // the file keeps the sample aspect ratio that preserves the shown shape
};

class AwkwardPictureSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(AwkwardPictureSizes, BecomeTheNearestSizeTheEncoderTakes) {
  const SizeCase& c = GetParam();
  const std::filesystem::path input = Picture("641x361.mkv", "641x361", 25, "-c:v mpeg4 -pix_fmt yuv420p");
  ASSERT_EQ(StreamEntry(input, "v:0", "width"), "641");
  const std::filesystem::path output = TestFolder() / (std::string("out.") + c.Extension);
  LogLines log;
  const auto result = Convert(input, output, "", c.Options);
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_EQ(StreamEntry(output, "v:0", "width"), std::to_string(c.Width));
  EXPECT_EQ(StreamEntry(output, "v:0", "height"), std::to_string(c.Height));
  if (c.AspectStored) {
    EXPECT_NEAR(DisplayAspect(output), 641.0 / 361.0, 0.01);
  }
  EXPECT_TRUE(media_test::DecodesCleanly(output));
  const bool adjusted = c.Width != 641 || c.Height != 361;
  EXPECT_EQ(log.Has("does not take 641x361 pictures in "), adjusted) << log.Text();
  EXPECT_EQ(log.Has(" they are scaled to " + std::to_string(c.Width) + "x" + std::to_string(c.Height)),
            adjusted)
      << log.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, AwkwardPictureSizes,
    ::testing::Values(
        // Whole chroma samples of 4:2:0.
        SizeCase{"Xvid", "avi", "vcodec=libxvid", 640, 360},  // refuses odd sizes
        SizeCase{"Wmv2", "wmv", "vcodec=wmv2", 640, 360},     // refuses an odd width
        SizeCase{"Mpeg4", "mp4", "vcodec=mpeg4", 640, 360},
        SizeCase{"X264", "mkv", "vcodec=libx264", 640, 360},
        SizeCase{"MsMpeg4", "asf", "vcodec=msmpeg4", 640, 360},
        SizeCase{"Flv", "flv", "vcodec=flv", 640, 360},
        SizeCase{"Mpeg1", "mpg", "vcodec=mpeg1video", 640, 360},
        SizeCase{"Theora", "ogg", "vcodec=libtheora", 640, 360},
        SizeCase{"Rawvideo", "avi", "vcodec=rawvideo", 640, 360},
        // Multiples of 16 and of 4 (RealMedia keeps no sample aspect ratio); H.263's own picture sizes.
        SizeCase{"RealVideo1", "rm", "vcodec=rv10", 640, 352, false},
        SizeCase{"RealVideo2", "rm", "vcodec=rv20", 640, 360, false},
        SizeCase{"H263", "3gp", "vcodec=h263", 704, 576},
        // A format without chroma subsampling keeps the size.
        SizeCase{"RawvideoBgr24", "avi", "vcodec=rawvideo\npix_fmt=bgr24", 641, 361}),
    [](const auto& param_info) { return std::string(param_info.param.Name); });

TEST(AwkwardPictureSizes, AFilterChainGivingASizeTheEncoderRefusesFailsPlainly) {
  const std::filesystem::path input = Picture("320x240.mkv", "320x240", 25, "-c:v mpeg4");
  const auto result = Convert(input, TestFolder() / "out.mkv", "", "vfilters=scale=319:239\nvcodec=mpeg4");
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  EXPECT_FALSE(result.Finished);
  EXPECT_EQ(
      result.ErrorText,
      "Error opening filters: the filter chain gives 319x239 pictures, which the mpeg4 encoder does not "
      "take in yuv420p; end the chain with scale=318:238");
}

// The sources of every pixel format the tests below use.
std::filesystem::path SourceIn(const std::string& format) {
  if (format == "rgb24" || format == "pal8") {
    return Picture(format + ".mov", "160x120", 10, "-c:v png -pix_fmt " + format);
  }
  if (format == "bgra") return Picture("bgra.mkv", "160x120", 10, "-c:v ffv1 -pix_fmt bgra");
  if (format == "gbrp") return Picture("gbrp.mkv", "160x120", 10, "-c:v libx264rgb -pix_fmt bgr24");
  return Picture(format + ".mkv", "160x120", 10, "-c:v libx264 -pix_fmt " + format);
}

TEST(AwkwardPixelFormats, RawvideoGetsAFormatItsContainerCanDescribe) {
  const std::filesystem::path folder = TestFolder();
  struct Case {
    const char* Source;
    const char* Extension;
    const char* Written;       // the output's pixel format
    const char* Options = "";  // besides the encoder
  };
  const Case cases[] = {
      {"yuv422p", "avi", "yuv422p"},  // formats the container describes stay
      {"bgra", "avi", "bgra"},
      {"pal8", "avi", "pal8"},
      {"rgb24", "avi", "bgr24"},  // the others become the nearest it describes
      {"gbrp", "avi", "bgr24"},
      {"yuv420p10le", "avi", "yuv420p"},
      {"yuv444p10le", "avi", "yuv420p"},
      {"yuv444p10le", "mkv", "yuv420p"},
      {"bgra", "mkv", "rgba"},
      {"yuv420p", "mov", "yuyv422"},
      {"rgb24", "mov", "rgb24"},
      {"pal8", "avi", "bgra", "s=200x150\n"},  // scaled: a format the scaler writes as well
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Source) + " in " + c.Extension + " " + c.Options);
    const std::filesystem::path input = SourceIn(c.Source);
    ASSERT_EQ(StreamEntry(input, "v:0", "pix_fmt"), c.Source);
    const std::filesystem::path output = folder / (std::string("out.") + c.Extension);
    LogLines log;
    const auto result = Convert(input, output, "", std::string(c.Options) + "vcodec=rawvideo");
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    EXPECT_EQ(StreamEntry(output, "v:0", "pix_fmt"), c.Written);
    EXPECT_TRUE(media_test::DecodesCleanly(output));
    const bool converted = std::string(c.Source) != c.Written;
    EXPECT_EQ(log.Has(std::string("pictures in ") + c.Source + "; they are converted to " + c.Written),
              converted)
        << log.Text();
  }
}

struct EncoderCase {
  const char* Name;
  const char* Extension;
  const char* Options;
  int Width;
  int Height;
};

class EveryPixelFormat : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(EveryPixelFormat, GivesAFileThatDecodes) {
  const EncoderCase& c = GetParam();
  const std::filesystem::path folder = TestFolder();
  for (const char* format : {"yuv420p10le", "yuv422p10le", "yuv444p", "rgb24", "bgra", "pal8"}) {
    SCOPED_TRACE(format);
    const std::filesystem::path output = folder / (std::string(format) + "." + c.Extension);
    const auto result = Convert(SourceIn(format), output, "", c.Options);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    EXPECT_NE(StreamEntry(output, "v:0", "pix_fmt"), "unknown");
    EXPECT_EQ(StreamEntry(output, "v:0", "width"), std::to_string(c.Width));
    EXPECT_EQ(StreamEntry(output, "v:0", "height"), std::to_string(c.Height));
    EXPECT_TRUE(media_test::DecodesCleanly(output));
  }
}

// The video encoders of the output profiles, in the containers the profiles put them in.
INSTANTIATE_TEST_SUITE_P(ProfileEncoders, EveryPixelFormat,
                         ::testing::Values(EncoderCase{"Mpeg4", "avi", "vcodec=mpeg4", 160, 120},
                                           EncoderCase{"Xvid", "avi", "vcodec=libxvid", 160, 120},
                                           EncoderCase{"X264", "mkv", "vcodec=libx264", 160, 120},
                                           EncoderCase{"H263", "3gp", "vcodec=h263\ns=176x144", 176, 144},
                                           EncoderCase{"Flv", "flv", "vcodec=flv", 160, 120},
                                           EncoderCase{"MsMpeg4", "asf", "vcodec=msmpeg4", 160, 120},
                                           EncoderCase{"Wmv2", "wmv", "vcodec=wmv2", 160, 120},
                                           EncoderCase{"Mpeg1", "mpg", "vcodec=mpeg1video", 160, 120},
                                           EncoderCase{"Mpeg2", "mpg", "vcodec=mpeg2video", 160, 120},
                                           EncoderCase{"RealVideo1", "rm", "vcodec=rv10", 160, 112},
                                           EncoderCase{"RealVideo2", "rm", "vcodec=rv20", 160, 120},
                                           EncoderCase{"Rawvideo", "avi", "vcodec=rawvideo", 160, 120},
                                           EncoderCase{"Theora", "ogg", "vcodec=libtheora", 160, 120}),
                         [](const auto& param_info) { return std::string(param_info.param.Name); });

}  // namespace
