// Picture and sound stay together: over 10 s of a file that flashes white and beeps at the start of every
// second, the flashes reach the host while the sound device plays their beeps. The sound's clock is SDL's
// disk driver's file: the driver writes each buffer the callback filled as a device starts playing it, then
// waits for the buffer's time, so the bytes in the file when a flash is painted tell how far the sound had
// come. That clock only goes as far as the driver gets to write, on a busy machine too.
#include <gtest/gtest.h>

#include "player/player_harness.h"

namespace player_test {
namespace {

class PlayerSync : public PlayerHarness {
 protected:
  static constexpr double kBytesPerSecond = 48000.0 * 2 * 2;
};

TEST_F(PlayerSync, TheFlashesAreShownWhileTheirBeepsPlay) {
  const std::filesystem::path file = FlashBeepFile();
  ASSERT_FALSE(file.empty());
  std::mutex flashes_mutex;
  std::vector<std::uintmax_t>
      flashes;         // guarded by flashes_mutex: the sound's bytes as each flash is painted
  bool white = false;  // play thread
  host_.PaintFrame = [&](const runtime::Bitmap& frame) {
    const bool now_white = frame.ScanLine(60)[80 * 3] > 128;
    if (now_white && !white) {
      const std::uintmax_t bytes = DiskAudioBytes();
      std::lock_guard lock(flashes_mutex);
      flashes.push_back(bytes);
    }
    white = now_white;
  };
  std::error_code ignored;
  std::filesystem::remove(DiskAudioFile(), ignored);
  ASSERT_TRUE(player_.Open(file.string(), host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(ServeUntil([&] { return HasState(player::psEnd); }, 3 * kPatienceMs)) << "the file did not end";
  player_.Stop(true);

  // The beeps' first samples in the file: loud after at least half a second of silence.
  const std::vector<std::int16_t> samples = ReadDiskAudio();
  std::vector<std::size_t> beeps;  // byte offsets
  std::size_t quiet = 0;
  for (std::size_t i = 0; i < samples.size(); i += 2) {
    const bool loud = std::abs(static_cast<int>(samples[i])) > 3000;
    if (loud && quiet > 24000) beeps.push_back(i * 2);
    quiet = loud ? 0 : quiet + 1;
  }
  std::lock_guard lock(flashes_mutex);
  // The first second starts with both at once, after the device's first silent buffers: it is not measured.
  ASSERT_GE(beeps.size(), 8U);
  ASSERT_EQ(flashes.size(), 10U) << "every flash is shown, once";
  // How far past its beep the sound had come when each flash was painted, in seconds. In step, that is
  // within a buffer of the device's (21 ms; the C library may hold one more back) and a frame (20 ms, as far
  // as the player lets the picture drift). A busy machine throws single flashes a fifth of a second either
  // way: late when the play thread waited for the processor, early when the sound's thread did (the picture
  // then goes on at half its pace). The middle offset stays in step: within 40 ms. Picture and sound a tenth
  // of a second apart, either way, over most of the file, move it out of that.
  std::vector<double> offsets;
  std::string listed;
  for (std::size_t k = 0; k < beeps.size(); ++k) {
    const std::size_t second = flashes.size() - beeps.size() + k;
    offsets.push_back((static_cast<double>(flashes[second]) - static_cast<double>(beeps[k])) /
                      kBytesPerSecond);
    listed += " " + std::to_string(std::lround(offsets.back() * 1000)) + " ms";
  }
  std::sort(offsets.begin(), offsets.end());
  EXPECT_LE(std::fabs(offsets[offsets.size() / 2]), 0.040) << "the flashes against their beeps:" << listed;
}

}  // namespace
}  // namespace player_test
