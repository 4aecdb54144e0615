// Re-encoding end to end through the engine component: real encoders and muxers, each output checked with
// ffprobe and decoded.
#include <gtest/gtest.h>

#include <cmath>

#include "conversion_runner.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::TestFolder;
using media_test::StreamEntry;

struct Job {
  const char* Name;
  const char* Extension;
  const char* Options;
  const char* VideoCodec;  // "" for audio only
  int Width;
  int Height;
  const char* AudioCodec;
  int SampleRate;
  int Channels;
};

class Reencode : public ::testing::TestWithParam<Job> {};

TEST_P(Reencode, GivesTheAskedStreamsInStepWithTheInput) {
  const Job& job = GetParam();
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path output = TestFolder() / (std::string("out.") + job.Extension);
  const auto result = Convert(input, output, "", job.Options);
  ASSERT_TRUE(result.OutputSet) << result.ErrorText;
  ASSERT_TRUE(result.Finished) << result.ErrorText;

  const auto streams = media_test::ProbeStreams(output);
  const bool has_video = job.VideoCodec[0] != '\0';
  double video_duration = -1;
  double audio_duration = -1;
  for (const auto& stream : streams) {
    if (stream.Kind == "video") video_duration = stream.Duration;
    if (stream.Kind == "audio") audio_duration = stream.Duration;
  }
  if (has_video) {
    EXPECT_EQ(StreamEntry(output, "v:0", "codec_name"), job.VideoCodec);
    EXPECT_EQ(StreamEntry(output, "v:0", "width"), std::to_string(job.Width));
    EXPECT_EQ(StreamEntry(output, "v:0", "height"), std::to_string(job.Height));
    EXPECT_NEAR(video_duration, 3.0, 0.1);
  } else {
    EXPECT_EQ(video_duration, -1) << "no video stream expected";
  }
  EXPECT_EQ(StreamEntry(output, "a:0", "codec_name"), job.AudioCodec);
  EXPECT_EQ(StreamEntry(output, "a:0", "sample_rate"), std::to_string(job.SampleRate));
  EXPECT_EQ(StreamEntry(output, "a:0", "channels"), std::to_string(job.Channels));
  EXPECT_NEAR(audio_duration, 3.0, 0.1);
  if (has_video) {
    EXPECT_NEAR(audio_duration, video_duration, 0.1);
  }
  EXPECT_TRUE(media_test::DecodesCleanly(output));
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, Reencode,
    ::testing::Values(
        Job{"Mp4Mpeg4Aac", "mp4", "vcodec=mpeg4\nb=600000\nacodec=aac\nab=96000", "mpeg4", 320, 240, "aac",
            44100, 2},
        Job{"Mp4X264Aac", "mp4", "vcodec=libx264\nvpre=default\nb=600000\nacodec=aac", "h264", 320, 240,
            "aac", 44100, 2},
        Job{"AviDivxMp3", "avi", "vcodec=mpeg4\nvtag=DIVX\nacodec=libmp3lame\nab=128000", "mpeg4", 320, 240,
            "mp3", 44100, 2},
        Job{"ThreeGpH263AmrNb", "3gp",
            "vcodec=h263\ns=176x144\nacodec=libopencore_amrnb\nar=8000\nac=1\nab=12200", "h263", 176, 144,
            "amr_nb", 8000, 1},
        Job{"ThreeG2AmrNb", "3g2", "vcodec=h263\ns=176x144\nacodec=libopencore_amrnb\nar=8000\nac=1\nab=4750",
            "h263", 176, 144, "amr_nb", 8000, 1},
        Job{"AmrAudioOnly", "amr", "acodec=libopencore_amrnb\nar=8000\nac=1\nab=7950", "", 0, 0, "amr_nb",
            8000, 1},
        Job{"MpgMpeg1Mp2", "mpg", "vcodec=mpeg1video\nacodec=mp2", "mpeg1video", 320, 240, "mp2", 44100, 2},
        Job{"MpgMpeg2Mp2", "mpg", "vcodec=mpeg2video\nacodec=mp2\nar=48000", "mpeg2video", 320, 240, "mp2",
            48000, 2},
        Job{"DvdTarget", "vob", "target=pal-dvd", "mpeg2video", 720, 576, "ac3", 48000, 2},
        Job{"WmvWmv2Wmav2", "wmv", "vcodec=wmv2\nacodec=wmav2", "wmv2", 320, 240, "wmav2", 44100, 2},
        Job{"Flv", "flv", "vcodec=flv\nacodec=libmp3lame\nar=22050", "flv1", 320, 240, "mp3", 22050, 2},
        Job{"OggTheoraVorbis", "ogg", "vcodec=libtheora\nacodec=libvorbis", "theora", 320, 240, "vorbis",
            44100, 2},
        Job{"Mp3", "mp3", "acodec=libmp3lame\nab=192000", "", 0, 0, "mp3", 44100, 2},
        Job{"WavMono22k", "wav", "ar=22050\nac=1", "", 0, 0, "pcm_s16le", 22050, 1}),
    [](const auto& param_info) { return std::string(param_info.param.Name); });

TEST(ReencodeSettings, BitRateAndVolumeReachTheOutput) {
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path folder = TestFolder();
  const auto loud = Convert(input, folder / "loud.wav", "", "vol=512");
  const auto plain = Convert(input, folder / "plain.wav", "", "");
  ASSERT_TRUE(loud.Finished && plain.Finished) << loud.ErrorText << plain.ErrorText;
  const auto peak = [](const std::filesystem::path& path) {
    const auto out = media_test::RunCommand("ffmpeg -nostdin -v info -i " + media_test::Quoted(path) +
                                            " -af volumedetect -f null - 2>&1");
    const std::size_t at = out.Output.find("max_volume: ");
    return at == std::string::npos ? 0.0 : std::stod(out.Output.substr(at + 12));
  };
  EXPECT_NEAR(peak(folder / "loud.wav") - peak(folder / "plain.wav"), 6.0, 0.5);

  const auto mp3 = Convert(input, folder / "out.mp3", "", "acodec=libmp3lame\nab=128000");
  ASSERT_TRUE(mp3.Finished) << mp3.ErrorText;
  EXPECT_EQ(StreamEntry(folder / "out.mp3", "a:0", "bit_rate"), "128000");
}

TEST(ReencodeSettings, CropAndPadKeepTheRequestedSizeAndPaintTheBorders) {
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path folder = TestFolder();
  for (const char* filters : {"", "vfilters=null\n"}) {
    SCOPED_TRACE(filters);
    const std::filesystem::path output = folder / (std::string(filters).empty() ? "direct.mkv" : "graph.mkv");
    const auto result =
        Convert(input, output, "",
                std::string(filters) +
                    "croptop=16\ncropbottom=16\ns=320x180\npadtop=30\npadbottom=30\nvcodec=mpeg4\n"
                    "qscale=2\nan=1");
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    EXPECT_EQ(StreamEntry(output, "v:0", "width"), "320");
    EXPECT_EQ(StreamEntry(output, "v:0", "height"), "240");
    // The top band is black: the average luma of the first 20 rows of the first picture.
    const auto rows =
        media_test::RunCommand("ffmpeg -nostdin -v info -i " + media_test::Quoted(output) +
                               " -frames:v 1 -vf crop=320:20:0:0,signalstats,metadata=print:key="
                               "lavfi.signalstats.YAVG -f null - 2>&1");
    const std::size_t at = rows.Output.find("YAVG=");
    ASSERT_NE(at, std::string::npos) << rows.Output;
    EXPECT_LT(std::stod(rows.Output.substr(at + 5)), 20.0);
  }
}

}  // namespace

namespace {

TEST(ReencodeSettings, AudioDriftCompensationFillsALateStartWithSilence) {
  // The sound starts half a second after the picture.
  const std::filesystem::path input = media_test::Fixture(
      "late_audio.mkv",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -itsoffset 0.5 -f lavfi -i sine=duration=1.5 "
      "-map 0 -map 1 -c:v mpeg4 -c:a pcm_s16le");
  ASSERT_FALSE(input.empty());
  const std::filesystem::path folder = TestFolder();
  // The drift method is a field of the output record, which overrides the option text.
  for (const int method : {1, 0}) {
    SCOPED_TRACE(method);
    const std::filesystem::path output = folder / ("async" + std::to_string(method) + ".wav");
    const auto result = Convert(input, output, "", "vn=1", [method](engine::TOutputOptions& options) {
      options.AudioSyncMethod = method;
    });
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    EXPECT_NEAR(std::stod(StreamEntry(output, "a:0", "duration")), method == 1 ? 2.0 : 1.5, 0.03);
  }
}

}  // namespace
