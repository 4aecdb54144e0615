#include "engine/stream_clock.h"

#include <gtest/gtest.h>

#include "runtime/library_loader.h"
#include "runtime/media_owners.h"

namespace {

TEST(StreamClock, AdvancesByWhatIsKnownAndNeverDividesByZero) {
  ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries));
  runtime::FormatContextPtr context(runtime::avformat().avformat_alloc_context());
  AVStream* stream = runtime::avformat().avformat_new_stream(context.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  struct Case {
    const char* Name;
    AVMediaType Kind;
    AVRational TimeBase;
    int SampleRate;
    int FrameSize;
    AVRational FrameRate;
    std::int64_t Duration;
    int Samples;
    std::int64_t Expected;
  };
  const Case cases[] = {
      {"packet duration", AVMEDIA_TYPE_VIDEO, {1, 90000}, 0, 0, {0, 0}, 3003, 0, 33367},
      {"duration with a zero time base", AVMEDIA_TYPE_VIDEO, {0, 0}, 0, 0, {25, 1}, 3003, 0, 40000},
      {"mp3 frame", AVMEDIA_TYPE_AUDIO, {1, 44100}, 44100, 1152, {0, 0}, 0, 0, 26122},
      {"decoded samples", AVMEDIA_TYPE_AUDIO, {1, 48000}, 48000, 1024, {0, 0}, 0, 480, 10000},
      {"unknown sample rate", AVMEDIA_TYPE_AUDIO, {1, 1}, 0, 1152, {0, 0}, 0, 0, 0},
      {"unknown frame size", AVMEDIA_TYPE_AUDIO, {1, 44100}, 44100, 0, {0, 0}, 0, 0, 0},
      {"ntsc rate", AVMEDIA_TYPE_VIDEO, {1, 1000}, 0, 0, {30000, 1001}, 0, 0, 33366},
      {"unknown frame rate", AVMEDIA_TYPE_VIDEO, {1, 1000}, 0, 0, {0, 0}, 0, 0, 0},
      {"negative frame rate", AVMEDIA_TYPE_VIDEO, {1, 1000}, 0, 0, {-25, 1}, 0, 0, 0},
      {"subtitle", AVMEDIA_TYPE_SUBTITLE, {1, 1000}, 0, 0, {0, 0}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    stream->time_base = c.TimeBase;
    stream->codecpar->codec_type = c.Kind;
    stream->codecpar->sample_rate = c.SampleRate;
    stream->codecpar->frame_size = c.FrameSize;
    stream->avg_frame_rate = c.FrameRate;
    stream->r_frame_rate = AVRational{0, 0};
    EXPECT_EQ(engine::NominalDurationUs(stream, nullptr, c.Duration, c.Samples), c.Expected);
  }
}

}  // namespace
