// Option names set on a task's generic contexts: where each lands, what is refused and logged, and how the
// options set reach real codec and format contexts.
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/generic_options.h"
#include "runtime/logger.h"

namespace {

using runtime::GenericOptions;

class GenericOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
    saved_level_ = runtime::Logger().LogLevel();
    saved_trigger_ = runtime::Logger().TriggerEventInMainThread();
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog(
        [this](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
          std::lock_guard lock(log_mutex_);
          log_.push_back({level, line});
        });
    ASSERT_TRUE(options_.Allocate(SWS_BICUBIC));
  }

  void TearDown() override {
    runtime::Logger().SetOnLog(nullptr);
    runtime::Logger().SetTriggerEventInMainThread(saved_trigger_);
    runtime::Logger().SetLogLevel(saved_level_);
  }

  struct LogLine {
    runtime::TLogLevel level;
    std::string text;
  };
  std::vector<LogLine> Log() {
    std::lock_guard lock(log_mutex_);
    return log_;
  }

  static const AVCodec* Encoder(const char* name) {
    return runtime::avcodec().avcodec_find_encoder_by_name(name);
  }

  // The option's value as the library writes it, private options included.
  static std::optional<std::string> OptionText(void* object, const char* name) {
    std::uint8_t* raw = nullptr;
    if (runtime::avutil().av_opt_get(object, name, AV_OPT_SEARCH_CHILDREN, &raw) < 0) return std::nullopt;
    const runtime::LibraryMemoryPtr<std::uint8_t> text(raw);
    return std::string(reinterpret_cast<const char*>(text.get()));
  }

  GenericOptions options_;

 private:
  runtime::TLogLevel saved_level_ = runtime::llInfo;
  bool saved_trigger_ = true;
  std::mutex log_mutex_;
  std::vector<LogLine> log_;
};

TEST_F(GenericOptionsTest, ContextsHaveTheirKindsAndDefaults) {
  for (int kind = 0; kind < GenericOptions::kKindCount; ++kind) {
    const AVCodecContext* context = options_.Codec(static_cast<AVMediaType>(kind));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->codec_type, kind);
  }
  EXPECT_EQ(options_.Codec(AVMEDIA_TYPE_UNKNOWN), nullptr);
  EXPECT_EQ(options_.Codec(AVMEDIA_TYPE_NB), nullptr);
  // "b" and "ab" share the bit rate field; each kind starts from its own default.
  EXPECT_EQ(options_.Video()->bit_rate, 200000);
  EXPECT_EQ(options_.Audio()->bit_rate, 128000);
  EXPECT_NE(options_.Format(), nullptr);
  EXPECT_NE(options_.Scaler(), nullptr);
}

TEST_F(GenericOptionsTest, EachKindGetsTheOptionsMeantForIt) {
  ASSERT_TRUE(options_.Set("ar", "22050"));
  EXPECT_EQ(options_.Audio()->sample_rate, 22050);
  EXPECT_EQ(options_.Video()->sample_rate, 0);
  EXPECT_EQ(options_.Subtitle()->sample_rate, 0);

  const std::int64_t subtitle_bit_rate = options_.Subtitle()->bit_rate;
  ASSERT_TRUE(options_.Set("b", "1500k"));
  EXPECT_EQ(options_.Video()->bit_rate, 1500000);
  EXPECT_EQ(options_.Audio()->bit_rate, 1500000);
  EXPECT_EQ(options_.Subtitle()->bit_rate, subtitle_bit_rate);

  ASSERT_TRUE(options_.Set("ab", "64000"));
  EXPECT_EQ(options_.Audio()->bit_rate, 64000);
  EXPECT_EQ(options_.Video()->bit_rate, 1500000);

  ASSERT_TRUE(options_.Set("probesize", "5000000"));
  EXPECT_EQ(options_.Format()->probesize, 5000000);

  ASSERT_TRUE(options_.Set("sws_flags", "lanczos"));
  char expected_flags[16];
  std::snprintf(expected_flags, sizeof expected_flags, "0x%08X", SWS_LANCZOS);
  EXPECT_EQ(OptionText(options_.Scaler(), "sws_flags"), expected_flags);

  EXPECT_EQ(options_.Names(), (std::vector<std::string>{"ar", "b", "ab", "probesize", "sws_flags"}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(GenericOptionsTest, KindPrefixesReachOneContext) {
  const int default_qmin = options_.Video()->qmin;
  ASSERT_TRUE(options_.Set("aqmin", "7"));
  EXPECT_EQ(options_.Audio()->qmin, 7);
  EXPECT_EQ(options_.Video()->qmin, default_qmin);

  ASSERT_TRUE(options_.Set("vqmin", "5"));
  EXPECT_EQ(options_.Video()->qmin, 5);
  EXPECT_EQ(options_.Audio()->qmin, 7);

  ASSERT_TRUE(options_.Set("sqmax", "20"));
  EXPECT_EQ(options_.Subtitle()->qmax, 20);
  EXPECT_NE(options_.Video()->qmax, 20);

  EXPECT_FALSE(options_.Set("anosuchoption", "1"));
  EXPECT_FALSE(options_.Set("xqmin", "1"));
  EXPECT_EQ(options_.Names(), (std::vector<std::string>{"qmin", "qmax"}));
}

TEST_F(GenericOptionsTest, RefusalsAndWhatTheyLog) {
  const struct {
    const char* name;
    const char* value;
  } silent[] = {{"nosuchoption", "1"}, {"", "1"}, {"   ", "1"}, {"b", ""}, {"b", " \t "}, {"crf", "23"}};
  for (const auto& c : silent) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    EXPECT_FALSE(options_.Set(c.name, c.value));
  }
  EXPECT_EQ(options_.Video()->bit_rate, 200000);
  EXPECT_TRUE(Log().empty());

  EXPECT_FALSE(options_.Set("b", "abc"));
  EXPECT_EQ(options_.Video()->bit_rate, 200000);
  bool logged = false;
  for (const LogLine& line : Log()) {
    if (line.text == "Invalid value \"abc\" for option \"b\"") {
      logged = true;
      EXPECT_EQ(line.level, runtime::llError);
    }
  }
  EXPECT_TRUE(logged);
  EXPECT_TRUE(options_.Names().empty());
}

TEST_F(GenericOptionsTest, DebugOutputRaisesTheLogLevel) {
  runtime::Logger().SetLogLevel(runtime::llInfo);
  ASSERT_TRUE(options_.Set("debug", "0"));
  EXPECT_EQ(runtime::Logger().LogLevel(), runtime::llInfo);
  ASSERT_TRUE(options_.Set("debug", "pict"));
  EXPECT_EQ(runtime::Logger().LogLevel(), runtime::llDebug);

  GenericOptions format_only;
  ASSERT_TRUE(format_only.Allocate(SWS_BICUBIC));
  runtime::Logger().SetLogLevel(runtime::llInfo);
  ASSERT_TRUE(format_only.Set("fdebug", "ts"));
  EXPECT_EQ(runtime::Logger().LogLevel(), runtime::llDebug);
}

TEST_F(GenericOptionsTest, ApplyToCopiesWhatTheRequiredFlagsAllow) {
  ASSERT_TRUE(options_.Set("ar", "22050"));
  ASSERT_TRUE(options_.Set("b", "300k"));

  const runtime::CodecContextPtr audio_encoder(runtime::avcodec().avcodec_alloc_context3(Encoder("mp2")));
  ASSERT_NE(audio_encoder, nullptr);
  options_.ApplyTo(audio_encoder.get(), options_.Audio(),
                   AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(audio_encoder->sample_rate, 22050);
  EXPECT_EQ(audio_encoder->bit_rate, 300000);

  // "ar" is no video option: a video-only copy leaves it out.
  const runtime::CodecContextPtr other(runtime::avcodec().avcodec_alloc_context3(nullptr));
  ASSERT_NE(other, nullptr);
  options_.ApplyTo(other.get(), options_.Audio(), AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(other->sample_rate, 0);
  EXPECT_EQ(other->bit_rate, 300000);

  ASSERT_TRUE(options_.Set("probesize", "5000000"));
  const runtime::FormatContextPtr format(runtime::avformat().avformat_alloc_context());
  ASSERT_NE(format, nullptr);
  options_.ApplyTo(format.get(), options_.Format(), 0);
  EXPECT_EQ(format->probesize, 5000000);
}

TEST_F(GenericOptionsTest, ApplyToLeavesOptionsSetOnlyElsewhereAlone) {
  // qmin set for audio alone must not carry the video context's default over the encoder's own default.
  ASSERT_TRUE(options_.Set("aqmin", "7"));
  const runtime::CodecContextPtr x264(runtime::avcodec().avcodec_alloc_context3(Encoder("libx264")));
  ASSERT_NE(x264, nullptr);
  const int x264_qmin = x264->qmin;
  ASSERT_NE(x264_qmin, options_.Video()->qmin);
  options_.ApplyTo(x264.get(), options_.Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(x264->qmin, x264_qmin);
  options_.ApplyTo(x264.get(), options_.Audio(), AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(x264->qmin, 7);
}

TEST_F(GenericOptionsTest, EncoderPrivateOptionsOnceTheEncoderIsKnown) {
  const AVCodec* x264 = Encoder("libx264");
  ASSERT_NE(x264, nullptr);
  EXPECT_FALSE(options_.Set("crf", "23"));
  ASSERT_TRUE(options_.Set("b", "1500k"));
  ASSERT_TRUE(options_.Set("vqmin", "4"));

  EXPECT_FALSE(options_.SetEncoder(AVMEDIA_TYPE_AUDIO, x264));
  EXPECT_EQ(options_.Audio()->codec, nullptr);
  ASSERT_TRUE(options_.SetEncoder(AVMEDIA_TYPE_VIDEO, x264));
  EXPECT_EQ(options_.Video()->codec, x264);
  EXPECT_EQ(options_.Video()->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(options_.Video()->bit_rate, 1500000);
  EXPECT_EQ(options_.Video()->qmin, 4);

  EXPECT_TRUE(options_.Set("crf", "23"));
  EXPECT_TRUE(options_.Set("preset", "veryfast"));
  EXPECT_FALSE(options_.Set("crf", "abc"));
  // The library says why first; our line names the option.
  ASSERT_FALSE(Log().empty());
  EXPECT_EQ(Log().back().text, "Invalid value \"abc\" for option \"crf\"");

  const runtime::CodecContextPtr encoder(runtime::avcodec().avcodec_alloc_context3(x264));
  ASSERT_NE(encoder, nullptr);
  options_.ApplyTo(encoder.get(), options_.Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  const std::optional<std::string> crf = OptionText(encoder.get(), "crf");
  ASSERT_TRUE(crf.has_value());
  EXPECT_DOUBLE_EQ(std::stod(*crf), 23.0);
  EXPECT_EQ(OptionText(encoder.get(), "preset"), "veryfast");
  EXPECT_EQ(encoder->bit_rate, 1500000);
  EXPECT_EQ(encoder->qmin, 4);

  // Another encoder without those options takes the rest and keeps its own settings.
  const runtime::CodecContextPtr mpeg4(runtime::avcodec().avcodec_alloc_context3(Encoder("mpeg4")));
  ASSERT_NE(mpeg4, nullptr);
  options_.ApplyTo(mpeg4.get(), options_.Video(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  EXPECT_EQ(mpeg4->bit_rate, 1500000);
  EXPECT_EQ(OptionText(mpeg4.get(), "crf"), std::nullopt);

  // Back to a plain context: the private options are gone, the generic ones stay.
  ASSERT_TRUE(options_.SetEncoder(AVMEDIA_TYPE_VIDEO, nullptr));
  EXPECT_EQ(options_.Video()->codec, nullptr);
  EXPECT_EQ(options_.Video()->bit_rate, 1500000);
  EXPECT_FALSE(options_.Set("preset", "fast"));
}

TEST_F(GenericOptionsTest, ReleasedOrRefusedContextsTakeNoOptions) {
  options_.Release();
  EXPECT_FALSE(options_.Allocated());
  EXPECT_EQ(options_.Video(), nullptr);
  EXPECT_EQ(options_.Scaler(), nullptr);
  EXPECT_TRUE(options_.Names().empty());
  EXPECT_FALSE(options_.Set("b", "1000"));
  EXPECT_FALSE(options_.SetEncoder(AVMEDIA_TYPE_VIDEO, Encoder("mpeg4")));

  // Two scaling methods at once: the scaler library refuses the flags, and nothing stays half allocated.
  EXPECT_FALSE(options_.Allocate(SWS_BICUBIC | SWS_LANCZOS));
  EXPECT_FALSE(options_.Allocated());
  EXPECT_EQ(options_.Video(), nullptr);

  ASSERT_TRUE(options_.Allocate(SWS_FAST_BILINEAR));
  EXPECT_TRUE(options_.Set("b", "1000"));
}

}  // namespace
