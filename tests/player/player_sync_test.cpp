// Picture and sound stay together: over 10 s of a file that flashes white and beeps at the start of every
// second, each flash reaches the host within 40 ms of the moment its beep is played. The moment a beep is
// played comes from the disk driver's file: a thread notes when the file grows, and the driver writes each
// buffer the callback filled at once, as a device starts playing it, then waits for the buffer's time.
#include <gtest/gtest.h>

#include <atomic>

#include "player/player_harness.h"

namespace player_test {
namespace {

struct Growth {
  Clock::time_point At;
  std::uintmax_t Bytes;
};

class PlayerSync : public PlayerHarness {
 protected:
  static constexpr double kBytesPerSecond = 48000.0 * 2 * 2;
  static constexpr std::uintmax_t kBufferBytes = 1024 * 2 * 2;  // the player asks for 1024 samples

  // When the sample at the byte offset was played: the last buffer of the growth that brought it started at
  // the moment of that growth, each buffer before it one buffer's time earlier.
  static double PlayedAt(const std::vector<Growth>& growth, std::uintmax_t offset, Clock::time_point zero) {
    for (const Growth& g : growth) {
      if (g.Bytes <= offset) continue;
      const std::uintmax_t buffer_start = g.Bytes - kBufferBytes;
      return std::chrono::duration<double>(g.At - zero).count() +
             (static_cast<double>(offset) - static_cast<double>(buffer_start)) / kBytesPerSecond;
    }
    return -1;
  }
};

TEST_F(PlayerSync, EveryFlashIsShownWithin40MsOfItsBeep) {
  const std::filesystem::path file = FlashBeepFile();
  ASSERT_FALSE(file.empty());
  std::mutex flashes_mutex;
  std::vector<Clock::time_point> flashes;  // guarded by flashes_mutex: the first white picture of each run
  bool white = false;                      // play thread
  host_.PaintFrame = [&](const runtime::Bitmap& frame) {
    const bool now_white = frame.ScanLine(60)[80 * 3] > 128;
    if (now_white && !white) {
      std::lock_guard lock(flashes_mutex);
      flashes.push_back(Clock::now());
    }
    white = now_white;
  };
  std::vector<Growth> growth;  // written by the watcher until it is joined
  std::atomic<bool> watching{true};
  std::error_code ignored;
  std::filesystem::remove(DiskAudioFile(), ignored);
  std::thread watcher([&] {
    std::uintmax_t last = 0;
    while (watching) {
      const std::uintmax_t bytes = DiskAudioBytes();
      if (bytes != last) growth.push_back({Clock::now(), bytes});
      last = bytes;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  const Clock::time_point zero = Clock::now();
  const bool opened = player_.Open(file.string(), host_, false);
  if (opened) ServeUntil([&] { return HasState(player::psEnd); }, 12000);
  player_.Stop(true);
  watching = false;
  watcher.join();
  ASSERT_TRUE(opened) << player_.LastErrorText();

  // The file grows by whole buffers of the callback, one or two at a time (the C library's own buffer may
  // hold one back until the next): a buffer started to play when it was written, so one that came together
  // with the next started one buffer earlier.
  ASSERT_GT(growth.size(), 100U);
  for (std::size_t i = 1; i < growth.size(); ++i) {
    const std::uintmax_t step = growth[i].Bytes - growth[i - 1].Bytes;
    ASSERT_TRUE(step == kBufferBytes || step == 2 * kBufferBytes) << step << " bytes at once";
  }

  // The beeps' first samples in the file: loud after at least half a second of silence.
  const std::vector<std::int16_t> samples = ReadDiskAudio();
  std::vector<double> beeps;
  std::size_t quiet = 0;
  for (std::size_t i = 0; i < samples.size(); i += 2) {
    if (std::abs(static_cast<int>(samples[i])) > 3000 && quiet > 24000) {
      beeps.push_back(PlayedAt(growth, i * 2, zero));
      quiet = 0;
    }
    quiet = std::abs(static_cast<int>(samples[i])) > 3000 ? 0 : quiet + 1;
  }
  std::lock_guard lock(flashes_mutex);
  // The first second starts with both at once, without silence before it: it is not measured.
  ASSERT_GE(beeps.size(), 8U);
  ASSERT_EQ(flashes.size(), 10U);
  for (std::size_t k = 0; k < beeps.size(); ++k) {
    const std::size_t second = flashes.size() - beeps.size() + k;
    const double flash = std::chrono::duration<double>(flashes[second] - zero).count();
    EXPECT_NEAR(flash, beeps[k], 0.040)
        << "second " << second << ": flash at " << flash << " s, beep at " << beeps[k] << " s";
  }
}

}  // namespace
}  // namespace player_test
