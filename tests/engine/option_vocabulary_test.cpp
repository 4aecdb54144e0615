#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>

#include "engine/ffmpeg_exception.h"
#include "engine/number_syntax.h"
#include "engine/option_groups.h"
#include "engine_test_support.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine_test {
namespace {

using engine::TPendingValues;

class OptionVocabulary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries));
    task_.Reset();
  }

  // The error text of a refused option, or "" when it was accepted.
  std::string Refusal(const std::string& name, const std::string& value) {
    try {
      task_.SetOption(name, value);
    } catch (const std::exception& error) {
      return error.what();
    }
    return "";
  }

  std::int64_t CodecInt(AVCodecContext* context, const char* name) {
    std::int64_t value = 0;
    EXPECT_GE(runtime::avutil().av_opt_get_int(context, name, AV_OPT_SEARCH_CHILDREN, &value), 0) << name;
    return value;
  }

  engine::TFFmpeg task_;
  const TPendingValues& pending_ = task_.Pending();
};

TEST(NumberSyntax, IntegersAndDecimals) {
  struct Case {
    const char* text;
    long long expected;
  };
  for (const Case& c :
       {Case{"42", 42}, Case{"  -5", -5}, Case{"+7", 7}, Case{"$1F", 31}, Case{"0x10", 16}, Case{"-$10", -16},
        Case{"$FFFFFFFF", -1}, Case{"2147483647", 2147483647}, Case{"-2147483648", -2147483648LL}}) {
    EXPECT_EQ(engine::ParseInteger(c.text), c.expected) << c.text;
  }
  for (const char* bad : {"", " ", "12a", "1.5", "2147483648", "$", "0x", "--1", "$100000000", "5 "}) {
    try {
      engine::ParseInteger(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const engine::ConversionError& error) {
      EXPECT_EQ(error.what(), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(engine::ParseInteger64("9000000000"), 9000000000LL);
  EXPECT_DOUBLE_EQ(engine::ParseDecimal(" 1.5 "), 1.5);
  EXPECT_DOUBLE_EQ(engine::ParseDecimal("-2e3"), -2000.0);
  EXPECT_THROW(engine::ParseDecimal("1,5"), engine::ConversionError);
}

TEST(NumberSyntax, DecimalPointIgnoresACommaLocale) {
  const std::string folder = std::string(TARVELLO_TEST_BINARY_DIR) + "/locales";
  std::filesystem::create_directories(folder);
  const std::string command = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no German locale can be made here";
  setenv("LOCPATH", folder.c_str(), 1);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_DOUBLE_EQ(engine::ParseDecimal("1.5"), 1.5);
  std::setlocale(LC_ALL, "C");
}

TEST_F(OptionVocabulary, OptionTextAppliesOnlyTheLinesOfItsGroup) {
  const std::string text = "vcodec=mpeg4<CRLF>b=800000";
  task_.ApplyOptionText(text, engine::ogCodecNames);
  EXPECT_EQ(pending_.VideoCodecName, "mpeg4");
  EXPECT_EQ(CodecInt(task_.GenericOptions().Video(), "b"), 200000) << "the bit rate is not a codec name";
  task_.ApplyOptionText(text, engine::ogGeneral);
  EXPECT_EQ(CodecInt(task_.GenericOptions().Video(), "b"), 800000);
  EXPECT_EQ(CodecInt(task_.GenericOptions().Audio(), "b"), 128000) << "\"b\" is the video bit rate";
}

TEST_F(OptionVocabulary, NamesAreLoweredButNotTrimmedAndBareNamesAreTrue) {
  task_.ApplyOptionText("  \r\nVN\r\nan=0\rsn\n\nshortest=1  ", engine::ogGeneral);
  EXPECT_TRUE(pending_.DisableVideo);
  EXPECT_FALSE(pending_.DisableAudio);
  EXPECT_TRUE(pending_.DisableSubtitle);
  EXPECT_TRUE(pending_.Shortest) << "the last line needs no line break";

  engine::TFFmpeg other;
  other.Reset();
  other.ApplyOptionText("x=1\n vn", engine::ogGeneral);
  EXPECT_FALSE(other.Pending().DisableVideo) << "\" vn\" is another name";
}

TEST_F(OptionVocabulary, StoredValues) {
  struct Case {
    const char* name;
    const char* value;
    std::function<bool(const TPendingValues&)> holds;
  };
  const Case cases[] = {
      {"fs", "5000000000", [](auto& p) { return p.LimitFileSize == 5000000000LL; }},
      {"vframes", "$10", [](auto& p) { return p.MaxFrames[engine::flVideo] == 16; }},
      {"aframes", "7", [](auto& p) { return p.MaxFrames[engine::flAudio] == 7; }},
      {"dframes", "3", [](auto& p) { return p.MaxFrames[engine::flData] == 3; }},
      {"vsync", "-1", [](auto& p) { return p.VideoSyncMethod == -1; }},
      {"async", "25", [](auto& p) { return p.AudioSyncMethod == 25; }},
      {"adrift_threshold", "0.25", [](auto& p) { return p.AudioDriftThreshold == 0.25F; }},
      {"copyts", "0", [](auto& p) { return p.CopyTs; }},
      {"xerror", "", [](auto& p) { return p.ExitOnError; }},
      {"vol", "512", [](auto& p) { return p.AudioVolume == 512; }},
      {"muxdelay", "0.5", [](auto& p) { return p.MuxMaxDelay == 0.5F; }},
      {"alang", "eng", [](auto& p) { return p.AudioLanguage == "eng"; }},
      {"top", "1", [](auto& p) { return p.TopFieldFirst == 1; }},
      {"threads", "3", [](auto& p) { return p.ThreadCount == 3; }},
      {"v", "0", [](auto& p) { return p.Verbosity == 0; }},
      {"rc_override", "0,100,2", [](auto& p) { return p.RcOverride == "0,100,2"; }},
      {"f", "pgmyuv", [](auto& p) { return p.FileFormat == "image2" && p.PgmYuvCompat; }},
      {"r", "30000/1001", [](auto& p) { return p.FrameRate.num == 30000 && p.FrameRate.den == 1001; }},
      {"r", "ntsc", [](auto& p) { return p.FrameRate.num == 30000 && p.FrameRate.den == 1001; }},
      {"s", "vga", [](auto& p) { return p.FrameWidth == 640 && p.FrameHeight == 480; }},
      {"aspect", "16:9", [](auto& p) { return p.FrameAspectRatio == 16.0F / 9.0F; }},
      {"aspect", "1.5", [](auto& p) { return p.FrameAspectRatio == 1.5F; }},
      {"pix_fmt", "yuv422p", [](auto& p) { return p.FramePixFmt == AV_PIX_FMT_YUV422P; }},
      {"sample_fmt", "s16", [](auto& p) { return p.AudioSampleFmt == AV_SAMPLE_FMT_S16; }},
      {"qscale", "2.5", [](auto& p) { return p.VideoQScale == 2.5F; }},
      {"ar", "22050", [](auto& p) { return p.AudioSampleRate == 22050; }},
      {"ar", "0", [](auto& p) { return p.AudioSampleRate == 22050; }},  // 0 keeps the rate
      {"ac", "1", [](auto& p) { return p.AudioChannels == 1; }},
      {"vtag", "XVID", [](auto& p) { return p.VideoCodecTag == 0x44495658U; }},
      {"padleft", "-4", [](auto& p) { return p.PadLeft == 0; }},
      {"padright", "40", [](auto& p) { return p.PadRight == 40; }},
      {"map", "1.0",
       [](auto& p) {
         return p.StreamMaps.back() == engine::TStreamMap{1, 0, 1, 0};
       }},
      {"map", "0:1:1:0",
       [](auto& p) {
         return p.StreamMaps.back() == engine::TStreamMap{0, 1, 1, 0};
       }},
      {"map_meta_data", "0:1",
       [](auto& p) {
         return p.MetaDataMaps.back() == engine::TMetaDataMap{0, 1};
       }},
      {"metadata", "title=a=b",
       [](auto& p) {
         return p.Metadata.back() == std::pair<std::string, std::string>{"title", "a=b"};
       }},
      {"t", "1:02.5", [](auto& p) { return p.RecordingTime == 62500000 && p.RecordingTimeSeconds == 62.5; }},
      {"ss", "00:00:03", [](auto& p) { return p.StartTime == 3000000; }},
      {"itsoffset", "-2", [](auto& p) { return p.InputTsOffset == -2000000; }},
      {"timestamp", "2009-05-01 12:00:00Z", [](auto& p) { return p.RecTimestamp == 1241179200; }},
      {"itsscale", "1:2.5",
       [](auto& p) {
         return p.InputTsScale.at({0, 1}) == 2.5;
       }},
      {"pass", "2", [](auto& p) { return p.PassNumber == 2; }},
      {"vstats_file", "stats.log", [](auto& p) { return p.VstatsFileName == "stats.log"; }},
      {"vstats", "", [](auto& p) { return p.VstatsFileName->find("vstats_") != std::string::npos; }},
      {"vbsf", "h264_mp4toannexb=x",
       [](auto& p) { return p.VideoBitstreamFilters.back() == "h264_mp4toannexb"; }},
      {"absf", "aac_adtstoasc", [](auto& p) { return p.AudioBitstreamFilters.back() == "aac_adtstoasc"; }},
      {"vfilters", "", [](auto& p) { return p.VideoFilters.empty(); }},
      {"vfilters", "hflip", [](auto& p) { return p.VideoFilters == "hflip"; }},
      {"muxrate", "10080000", [](auto& p) { return p.MuxerOptions.at("muxrate") == "10080000"; }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Refusal(c.name, c.value), "") << c.name << "=" << c.value;
    EXPECT_TRUE(c.holds(pending_)) << c.name << "=" << c.value;
  }
}

TEST_F(OptionVocabulary, RefusalsKeepTheirTexts) {
  std::string matrix_63;
  for (int i = 0; i < 63; ++i)
    matrix_63 += (i ? "," : "") + std::to_string(i + 1);
  struct Case {
    const char* name;
    std::string value;
    std::string message;
  };
  const Case cases[] = {
      {"r", "abc", "Incorrect frame rate"},
      {"s", "12xq", "Incorrect frame size"},
      {"aspect", "4:0", "Incorrect aspect ratio specification."},
      {"aspect", "wide", "Incorrect aspect ratio specification."},
      {"pix_fmt", "nope", "Unknown pixel format requested: nope"},
      {"qscale", "0", "qscale must be > 0.0 and <= 255"},
      {"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {"vtag", "XVI", "video tag parameter must be 4 chars"},
      {"atag", "mp4a5", "audio tag parameter must be 4 chars"},
      {"intra_matrix", matrix_63, "Syntax error in matrix \"" + matrix_63 + "\" at coeff 62"},
      {"metadata", "title", "Missing ="},
      {"t", "xyz", "Invalid duration specification for t: xyz"},
      {"timestamp", "not a date", "Invalid date specification for timestamp: not a date"},
      {"itsscale", "20:2", "stream index over MAX_STREAMS(20)"},
      {"itsscale", "-1:2", "stream index over MAX_STREAMS(20)"},
      {"pass", "3", "pass number can be only 1 or 2"},
      {"vbsf", " nosuch ", "Unknown bitstream filter nosuch"},
      {"target", "bluray", "Unknown target type"},
      {"target", "dvd", "frame_rate is invalid."},
      {"vframes", "many", "'many' is not a valid integer value"},
      {"croptop", "10",
       "Vertical crop dimensions are outside the range of the original image.\n"
       "Remember to crop first and scale second."},
      {"newvideo", "", "At least one output file must be specified"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Refusal(c.name, c.value), c.message) << c.name << "=" << c.value;
  EXPECT_EQ(pending_.FrameHeight, 0) << "a refused crop stores nothing";
}

TEST_F(OptionVocabulary, MapsHaveLimits) {
  for (int i = 0; i < engine::kMaxStreamMaps; ++i)
    ASSERT_EQ(Refusal("map", "0:0"), "");
  EXPECT_EQ(Refusal("map", "0:0"), "Too many stream maps: at most 400 are allowed");
  for (int i = 0; i < engine::kMaxMetaDataMaps; ++i)
    ASSERT_EQ(Refusal("map_meta_data", "0:0"), "");
  EXPECT_EQ(Refusal("map_meta_data", "0:0"), "Too many metadata maps: at most 20 are allowed");
}

TEST_F(OptionVocabulary, CropReducesTheCurrentSizeAndSizeComesAfter) {
  task_.SetOption("s", "640x480");
  task_.SetOption("croptop", "10");
  task_.SetOption("cropleft", "0");
  EXPECT_EQ(pending_.FrameHeight, 470);
  EXPECT_EQ(pending_.FrameWidth, 640);
  EXPECT_EQ(pending_.CropTop, 10);
  task_.SetOption("s", "640x480");
  EXPECT_EQ(pending_.FrameHeight, 480);
  EXPECT_NE(Refusal("croptop", "480"), "");
  EXPECT_NE(Refusal("cropright", "640"), "");
}

TEST_F(OptionVocabulary, PadColorIsConvertedToYuv) {
  struct Case {
    const char* value;
    engine::TYuvColor yuv;
  };
  for (const Case& c : {Case{"255", {76, 85, 255}}, Case{"0", {0, 128, 128}},
                        Case{"$FFFFFF", {255, 128, 128}}, Case{"$FF0000", {29, 255, 107}}}) {
    task_.SetOption("padcolor", c.value);
    EXPECT_EQ(pending_.PadColor, c.yuv) << c.value;
  }
}

TEST_F(OptionVocabulary, CopyStaysWhenACodecNameFollows) {
  task_.SetOption("vcodec", "copy");
  task_.SetOption("vcodec", "mpeg4");
  EXPECT_TRUE(pending_.VideoStreamCopy);
  EXPECT_EQ(pending_.VideoCodecName, "mpeg4");
  EXPECT_FALSE(pending_.AudioStreamCopy);
}

TEST_F(OptionVocabulary, EncoderPrivateOptionsAreFoundOnceTheEncoderIsNamed) {
  task_.SetOption("crf", "23");  // no encoder named yet: silently dropped, as unknown names are
  task_.SetOption("vcodec", "libx264");
  task_.SetOption("crf", "20");
  task_.SetOption("preset", "veryfast");
  char* preset = nullptr;
  ASSERT_GE(runtime::avutil().av_opt_get(task_.GenericOptions().Video(), "preset", AV_OPT_SEARCH_CHILDREN,
                                         reinterpret_cast<std::uint8_t**>(&preset)),
            0);
  EXPECT_STREQ(preset, "veryfast");
  runtime::avutil().av_free(preset);
}

TEST_F(OptionVocabulary, InformationalOptionsOnlyLog) {
  std::vector<std::string> lines;
  runtime::Logger().SetTriggerEventInMainThread(false);
  runtime::Logger().SetOnLog([&](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel,
                                 const std::string& line) { lines.push_back(line); });
  task_.SetOption("h", "");
  task_.SetOption("benchmark", "1");
  runtime::Logger().SetOnLog(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"Do nothing: option - h", "Do nothing: option - benchmark"}));
}

struct TargetCase {
  const char* target;
  const char* frame_rate;  // given before the target, or ""
  int width, height, rate_num, rate_den;
  const char* video_codec;
  const char* audio_codec;
  int sample_rate;
  std::int64_t video_bit_rate, audio_bit_rate;
  float aspect;
  const char* pixel_format;  // or ""
};

class Targets : public OptionVocabulary, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(Targets, SetTheirBundle) {
  const TargetCase& c = GetParam();
  if (*c.frame_rate) task_.SetOption("r", c.frame_rate);
  task_.SetOption("target", c.target);
  EXPECT_EQ(pending_.FrameWidth, c.width);
  EXPECT_EQ(pending_.FrameHeight, c.height);
  EXPECT_EQ(pending_.FrameRate.num, c.rate_num);
  EXPECT_EQ(pending_.FrameRate.den, c.rate_den);
  EXPECT_EQ(pending_.AudioSampleRate, c.sample_rate);
  EXPECT_FLOAT_EQ(pending_.FrameAspectRatio, c.aspect);
  if (*c.video_codec) {
    EXPECT_EQ(pending_.VideoCodecName, c.video_codec);
    EXPECT_EQ(pending_.AudioCodecName, c.audio_codec);
    EXPECT_EQ(CodecInt(task_.GenericOptions().Video(), "b"), c.video_bit_rate);
    EXPECT_EQ(CodecInt(task_.GenericOptions().Audio(), "b"), c.audio_bit_rate);
  }
  if (*c.pixel_format) {
    EXPECT_EQ(pending_.FramePixFmt, runtime::avutil().av_get_pix_fmt(c.pixel_format));
  }
}

INSTANTIATE_TEST_SUITE_P(
    , Targets,
    ::testing::Values(TargetCase{"pal-dvd", "", 720, 576, 25, 1, "mpeg2video", "ac3", 48000, 6000000, 448000,
                                 16.0F / 9, ""},
                      TargetCase{"dvd", "29.97", 720, 480, 30000, 1001, "mpeg2video", "ac3", 48000, 6000000,
                                 448000, 16.0F / 9, ""},
                      TargetCase{"film-dvd", "", 720, 480, 24000, 1001, "mpeg2video", "ac3", 48000, 6000000,
                                 448000, 16.0F / 9, ""},
                      TargetCase{"ntsc-vcd", "", 352, 240, 30000, 1001, "mpeg1video", "mp2", 44100, 1150000,
                                 224000, 4.0F / 3, ""},
                      TargetCase{"pal-svcd", "", 480, 576, 25, 1, "mpeg2video", "mp2", 44100, 2040000, 224000,
                                 4.0F / 3, ""},
                      TargetCase{"vcd", "10", 352, 240, 30000, 1001, "mpeg1video", "mp2", 44100, 1150000,
                                 224000, 4.0F / 3, ""},
                      TargetCase{"pal-dv", "", 720, 576, 25, 1, "", "", 48000, 0, 0, 0, "yuv420p"},
                      TargetCase{"ntsc-dv", "", 720, 480, 30000, 1001, "", "", 48000, 0, 0, 0, "yuv411p"},
                      TargetCase{"ntsc-dv50", "", 720, 480, 30000, 1001, "", "", 48000, 0, 0, 0, "yuv422p"}));

TEST_F(OptionVocabulary, TargetMuxerAndPrivateEncoderSettings) {
  task_.SetOption("target", "pal-vcd");
  EXPECT_EQ(pending_.MuxerOptions.at("muxrate"), "1411200");
  EXPECT_FLOAT_EQ(pending_.MuxPreload, 0.44F);
  EXPECT_EQ(pending_.FileFormat, "vcd");
  EXPECT_EQ(CodecInt(task_.GenericOptions().Video(), "maxrate"), 1150000);
  std::int64_t packet_size = 0;
  runtime::avutil().av_opt_get_int(task_.GenericOptions().Format(), "packetsize", 0, &packet_size);
  EXPECT_EQ(packet_size, 2324);

  engine::TFFmpeg svcd;
  svcd.Reset();
  svcd.SetOption("target", "pal-svcd");
  EXPECT_EQ(CodecInt(svcd.GenericOptions().Video(), "scan_offset"), 1);
  EXPECT_EQ(svcd.Pending().AudioChannels, 2);
}

}  // namespace
}  // namespace engine_test
