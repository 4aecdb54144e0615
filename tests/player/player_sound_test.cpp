// The player's sound: SDL's disk driver writes what the player mixes (the file's tone, silence when muted,
// half the amplitude at volume 64); with the dummy driver and without any sound device the file still plays
// in time, and a file without video still shows its waveform and ends.
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
    ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
    Serve(800);
    player_.Stop(true);
    const std::vector<std::int16_t> samples = ReadDiskAudio();
    ASSERT_GT(samples.size(), 48000U / 2);
    run.Peak = PeakAmplitude(samples);
    run.Frequency = MeasureFrequency(samples, 2, 48000);
  }
  EXPECT_NEAR(runs[0].Frequency, 1000.0, 20.0);
  EXPECT_GT(runs[0].Peak, 2000);  // the generated tone peaks at 4096 / sqrt(2) per channel
  EXPECT_EQ(runs[1].Peak, 0);
  EXPECT_NEAR(static_cast<double>(runs[2].Peak) / runs[0].Peak, 0.5, 0.05);
}

// Plays the file for a while: the positions' pace against the clock on the wall.
double PlayedPerSecond(const std::vector<Position>& positions) {
  std::size_t from = 0;
  while (from < positions.size() && positions[from].Time < 300000)
    ++from;
  if (from + 5 >= positions.size()) return 0;
  const double played = static_cast<double>(positions.back().Time - positions[from].Time) / 1e6;
  const double real = std::chrono::duration<double>(positions.back().At - positions[from].At).count();
  return played / real;
}

class PlayerDummySound : public PlayerHarness {
 protected:
  static void SetUpTestSuite() {
    PlayerHarness::SetUpTestSuite();
    UseAudioDriver("dummy");
  }
};

TEST_F(PlayerDummySound, TheFilePlaysInTimeWithItsPictures) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  if (!AudioDriverIs("dummy")) GTEST_SKIP() << "SDL audio runs another driver in this process";
  Serve(500);
  ExpectColour(PaintedPixel(80, 60), 0, 0, 255);
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 1300000; }, 3000));
  Serve(60);
  ExpectColour(PaintedPixel(80, 60), 0, 255, 0);
  std::lock_guard lock(mutex_);
  EXPECT_NEAR(PlayedPerSecond(positions_), 1.0, 0.1);
}

// The disk driver cannot create its file: no device opens.
class PlayerWithoutSoundDevice : public PlayerHarness {
 protected:
  static void SetUpTestSuite() {
    PlayerHarness::SetUpTestSuite();
    ::setenv("SDL_DISKAUDIOFILE", "/nonexistent-folder/sound.raw", 1);
  }
};

TEST_F(PlayerWithoutSoundDevice, AnAudioOnlyFilePlaysSilentlyInTimeWithItsWaveformToTheEnd) {
  LogLines log;
  const std::string file = ToneFile().string();
  ASSERT_TRUE(player_.Open(file, host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(log.Contains("SDL_OpenAudio() failed: "));
  EXPECT_TRUE(log.Contains("no sound device: " + file + " plays without sound"));
  Serve(1000);
  {
    std::lock_guard lock(mutex_);
    EXPECT_NEAR(PlayedPerSecond(positions_), 1.0, 0.1);
    ASSERT_FALSE(last_frame_.Empty());
    int white = 0;
    for (int x = 0; x < last_frame_.Width(); ++x)
      for (int y = 0; y < 60; ++y)
        white += last_frame_.ScanLine(y)[x * 3] == 255;
    EXPECT_GT(white, 160) << "the first channel's trace";
  }
  EXPECT_TRUE(ServeUntil([&] { return HasState(player::psEnd); }, 2500));
  EXPECT_GE(LastPosition(), 1950000);
}

TEST_F(PlayerWithoutSoundDevice, AFileWithVideoPlaysInTime) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  Serve(1500);
  ExpectColour(PaintedPixel(80, 60), 0, 255, 0);
  std::lock_guard lock(mutex_);
  EXPECT_NEAR(PlayedPerSecond(positions_), 1.0, 0.1);
}

}  // namespace
}  // namespace player_test
