// The player's pure parts: the coalescing event ring, the aspect fit and the display aspect, the delay rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "player/event_ring.h"
#include "player/playback.h"
#include "player/video_output.h"
#include "runtime/library_loader.h"

namespace {

using player::TEventRing;
using player::TPlayerEvent;

TPlayerEvent Position(std::int64_t time) {
  return TPlayerEvent{player::ekPosition, player::psPlay, time, 1};
}
TPlayerEvent State(player::TPlayState state) {
  return TPlayerEvent{player::ekState, state, 0, 1};
}

TEST(EventRing, TwoPositionsInARowBecomeTheLaterOne) {
  TEventRing ring;
  ring.Put(Position(10));
  ring.Put(Position(20));
  ASSERT_TRUE(ring.Pending().IsSet());
  auto first = ring.Take();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Timestamp, 20);
  EXPECT_FALSE(ring.Take().has_value());
  EXPECT_FALSE(ring.Pending().IsSet());
}

TEST(EventRing, AStateBetweenPositionsKeepsAllThree) {
  TEventRing ring;
  ring.Put(Position(10));
  ring.Put(State(player::psPause));
  ring.Put(Position(20));
  EXPECT_EQ(ring.Take()->Timestamp, 10);
  EXPECT_EQ(ring.Take()->State, player::psPause);
  EXPECT_EQ(ring.Take()->Timestamp, 20);
  EXPECT_FALSE(ring.Take().has_value());
}

TEST(EventRing, MoreThanTenAlternatingEntriesLoseTheOldest) {
  TEventRing ring;
  for (int i = 0; i < 14; ++i)
    ring.Put(i % 2 == 0 ? Position(i) : State(player::psPause));
  std::vector<TPlayerEvent> taken;
  while (auto event = ring.Take())
    taken.push_back(*event);
  ASSERT_EQ(taken.size(), 10U);
  EXPECT_EQ(taken.front().Kind, player::ekPosition);
  EXPECT_EQ(taken.front().Timestamp, 4);  // entries 0..3 are lost
}

struct FitCase {
  int SurfaceWidth, SurfaceHeight;
  float Setting;
  AVRational StreamSar, CodecSar;
  int CodedWidth, CodedHeight;
  player::TPictureRect Expected;
};

class AspectFit : public testing::TestWithParam<FitCase> {};

TEST_P(AspectFit, PlacesThePicture) {
  const FitCase& c = GetParam();
  const double aspect = player::DisplayAspect(c.Setting, c.SurfaceWidth, c.SurfaceHeight, c.StreamSar,
                                              c.CodecSar, c.CodedWidth, c.CodedHeight);
  EXPECT_EQ(player::FitPicture(c.SurfaceWidth, c.SurfaceHeight, aspect), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, AspectFit,
                         testing::Values(
                             // 1920x1080 square pixels into 400x300: full width, centred vertically.
                             FitCase{400, 300, 0, {0, 1}, {0, 1}, 1920, 1080, {0, 38, 400, 224}},
                             // A negative setting fills the surface.
                             FitCase{400, 300, -1, {0, 1}, {0, 1}, 1920, 1080, {0, 0, 400, 300}},
                             // Sample aspect 0/1 in stream and codec: square pixels.
                             FitCase{320, 240, 0, {0, 1}, {0, 1}, 320, 240, {0, 0, 320, 240}},
                             // A tall picture: full height, centred horizontally.
                             FitCase{400, 300, 0, {1, 1}, {0, 1}, 100, 200, {125, 0, 150, 300}},
                             // The stream's sample aspect wins over the codec's: 720x576 at 16:15 is 4:3.
                             FitCase{400, 300, 0, {16, 15}, {1, 1}, 720, 576, {0, 0, 400, 300}},
                             // A set ratio is used as it is.
                             FitCase{400, 300, 2.0F, {1, 1}, {1, 1}, 320, 240, {0, 50, 400, 200}}),
                         [](const testing::TestParamInfo<FitCase>& case_info) {
                           return "Case" + std::to_string(case_info.index);
                         });

// The delay before the picture after this one: from the time stamps, corrected against the sound's clock.
struct DelayCase {
  const char* What;
  double LastPts, LastDelay, Pts;
  bool AfterSeek;
  bool WithAudio;
  double AudioClock;
  bool Paused;
  double Expected;  // seconds; 0.010 is the least
};

class DelayRule : public testing::TestWithParam<DelayCase> {};

TEST_P(DelayRule, GivesTheDelay) {
  ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::PlayerLibraries));
  const DelayCase& c = GetParam();
  player::TPlayback playback;
  playback.FrameLastPts = c.LastPts;
  playback.FrameLastDelay = c.LastDelay;
  playback.AudioIndex = c.WithAudio ? 0 : -1;
  playback.AudioRate = 48000;
  playback.AudioChannels = 2;
  playback.AudioClock = c.AudioClock;
  playback.Paused = c.Paused;
  const double now = static_cast<double>(runtime::avutil().av_gettime()) / 1e6;
  // Paused for a minute: a step's picture still waits its delay from now.
  playback.FrameTimer = c.Paused ? now - 60 : now;
  const double delay = player::ComputeDelay(playback, c.Pts, c.AfterSeek);
  // The delay counts from the moment it is computed: what a busy machine took of it since `now` is gone.
  const double taken = static_cast<double>(runtime::avutil().av_gettime()) / 1e6 - now;
  EXPECT_LE(delay, c.Expected + 0.003) << c.What;
  EXPECT_GE(delay, std::max(c.Expected - 0.003 - taken, 0.010)) << c.What << ", " << taken << " s taken";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DelayRule,
    testing::Values(
        DelayCase{"in time", 1.00, 0.04, 1.04, false, true, 1.04, false, 0.04},
        DelayCase{"late by more than a frame: at once", 1.00, 0.04, 1.04, false, true, 1.10, false, 0.010},
        DelayCase{"early by more than a frame: twice", 1.00, 0.04, 1.04, false, true, 0.99, false, 0.08},
        DelayCase{"10 s or more apart: not corrected", 1.00, 0.04, 1.04, false, true, 20.0, false, 0.04},
        DelayCase{"a jump of 2 s keeps the last delay", 1.00, 0.04, 3.50, false, true, 3.50, false, 0.04},
        DelayCase{"after a seek the last delay", 1.00, 0.04, 1.20, true, true, 1.20, false, 0.04},
        DelayCase{"without sound the video clock rules", 1.00, 0.04, 1.04, false, false, 5.0, false, 0.04},
        DelayCase{"a step while paused", 1.00, 0.04, 1.04, false, true, 1.04, true, 0.04}),
    [](const testing::TestParamInfo<DelayCase>& case_info) {
      std::string name;
      for (const char* c = case_info.param.What; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
      return name;
    });

}  // namespace
