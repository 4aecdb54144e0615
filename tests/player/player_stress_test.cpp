// Many short cycles of play and stop, some paused first or opened paused, each stopped soon after it
// started: Open and Stop always return, nothing stays open and no thread stays behind. A watchdog ends a
// deadlock with the stacks of every thread.
#include <gtest/gtest.h>

#include "player/player_harness.h"
#include "support/watchdog.h"

namespace player_test {
namespace {

constexpr int kCycles = 100;
constexpr std::chrono::seconds kLimit{20};

using PlayerStress = PlayerHarness;

TEST_F(PlayerStress, QuickPlayAndStopCyclesEndCleanly) {
  const std::string file = ColourFile().string();
  // The first open starts what a process starts once (SDL's audio device).
  ASSERT_TRUE(player_.Open(file, host_, false)) << player_.LastErrorText();
  Serve(100);
  player_.Stop(true);
  Serve(50);
  test_watchdog::Watchdog watchdog;
  const int threads = LiveThreads();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    watchdog.Arm("play and stop cycle " + std::to_string(cycle), kLimit);
    ASSERT_TRUE(player_.Open(file, host_, cycle % 4 == 3)) << cycle << ": " << player_.LastErrorText();
    Serve(cycle % 5 * 10);
    if (cycle % 3 == 1) player_.TogglePause();
    player_.Stop(cycle % 2 == 0);
  }
  watchdog.Arm("the last stop", kLimit);
  player_.Stop(true);
  watchdog.Disarm();
  EXPECT_FALSE(player_.IsOpen());
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads)) << LiveThreads() << " threads, " << threads << " before";
}

}  // namespace
}  // namespace player_test
