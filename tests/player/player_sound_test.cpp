// The player's sound: SDL's disk driver writes what the player mixes (the file's tone, silence when muted,
// half the amplitude at volume 64); with the dummy driver and without any sound device the file still plays
// at real time, and a file without video still shows its waveform and ends.
#include <gtest/gtest.h>

#include "player/player_harness.h"

namespace player_test {
namespace {

using PlayerSound = PlayerHarness;

TEST_F(PlayerSound, TheDiskAudioHoldsTheToneSilentWhenMutedHalfAtHalfVolume) {
  struct Run {
    bool Mute;
    int Volume;
    int Peak = 0;
    double Frequency = 0;
  };
  std::vector<Run> runs{{false, 128}, {true, 128}, {false, 64}};
  for (Run& run : runs) {
    player_.SetMute(run.Mute);
    player_.SetAudioVolume(run.Volume);
    std::error_code ignored;
    std::filesystem::remove(DiskAudioFile(), ignored);
    ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
    ASSERT_TRUE(ServeForSound(0.6, 48000 * 2 * 2)) << "the device does not play";
    player_.Stop(true);
    const std::vector<std::int16_t> samples = ReadDiskAudio();
    run.Peak = PeakAmplitude(samples);
    run.Frequency = MeasureFrequency(samples, 2, 48000);
  }
  EXPECT_NEAR(runs[0].Frequency, 1000.0, 20.0);
  EXPECT_GT(runs[0].Peak, 2000);  // the generated tone peaks at 4096 / sqrt(2) per channel
  EXPECT_EQ(runs[1].Peak, 0);
  EXPECT_NEAR(static_cast<double>(runs[2].Peak) / runs[0].Peak, 0.5, 0.05);
}

class PlayerDummySound : public PlayerHarness {
 protected:
  static void SetUpTestSuite() {
    PlayerHarness::SetUpTestSuite();
    UseAudioDriver("dummy");
  }
};

TEST_F(PlayerDummySound, TheFilePlaysAtRealTimeWithItsPictures) {
  const Clock::time_point started = Clock::now();
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  if (!AudioDriverIs("dummy")) GTEST_SKIP() << "SDL audio runs another driver in this process";
  ASSERT_TRUE(ServeUntil([&] { return FirstPaintedPixel(80, 60)[0] >= 0; }, kPatienceMs)) << "no picture";
  ExpectColour(FirstPaintedPixel(80, 60), 0, 0, 255);
  EXPECT_TRUE(ServeUntil([&] { return IsColour(PaintedPixel(80, 60), 0, 255, 0); }, kPatienceMs))
      << "the second second is not shown green";
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() >= 2500000; }, kPatienceMs));
  std::lock_guard lock(mutex_);
  ExpectRealTimePace(positions_, started);
}

// The disk driver cannot create its file: no device opens.
class PlayerWithoutSoundDevice : public PlayerHarness {
 protected:
  static void SetUpTestSuite() {
    PlayerHarness::SetUpTestSuite();
    ::setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/sound.raw", 1);
  }
};

TEST_F(PlayerWithoutSoundDevice, AnAudioOnlyFilePlaysSilentlyAtRealTimeWithItsWaveformToTheEnd) {
  LogLines log;
  const std::string file = ToneFile().string();
  const Clock::time_point started = Clock::now();
  ASSERT_TRUE(player_.Open(file, host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(log.Contains("SDL_OpenAudio() failed: "));
  EXPECT_TRUE(log.Contains("no sound device: " + file + " plays without sound"));
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() >= 1000000; }, kPatienceMs));
  {
    std::lock_guard lock(mutex_);
    ASSERT_FALSE(last_frame_.Empty());
    int white = 0;
    for (int x = 0; x < last_frame_.Width(); ++x)
      for (int y = 0; y < 60; ++y)
        white += last_frame_.ScanLine(y)[x * 3] == 255;
    EXPECT_GT(white, 160) << "the first channel's trace";
  }
  EXPECT_TRUE(ServeUntil([&] { return HasState(player::psEnd); }, kPatienceMs));
  EXPECT_GE(LastPosition(), 1950000);
  std::lock_guard lock(mutex_);
  ExpectRealTimePace(positions_, started);
}

TEST_F(PlayerWithoutSoundDevice, AFileWithVideoPlaysAtRealTime) {
  const Clock::time_point started = Clock::now();
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(ServeUntil([&] { return IsColour(PaintedPixel(80, 60), 0, 255, 0); }, kPatienceMs))
      << "the second second is not shown green";
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() >= 2500000; }, kPatienceMs));
  std::lock_guard lock(mutex_);
  ExpectRealTimePace(positions_, started);
}

}  // namespace
}  // namespace player_test
