// The preview player's read and decode path on arbitrary bytes, without a screen or a sound card: SDL's
// dummy video and audio drivers, pictures handed to the host's PaintFrame as on a host without an X11
// window. Each input is opened paused (the first picture is decoded and shown), played for a moment,
// sought to its middle and closed; the player must neither crash nor hang on any of it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "player/ff_player.h"
#include "runtime/main_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

// Serves the main thread's queue (the player's events) for a while.
void Serve(int milliseconds) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) {
    runtime::ServeQueuedCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  fuzz_support::BindLibraries(runtime::PlayerLibraries);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzz_support::WriteInput("player-input", data, size);
  player::TFFPlayer player;
  player.OpenTimeout = 2000;
  std::int64_t duration = -1;
  player.OnFileOpen = [&duration](player::TCustomPlayer&, std::int64_t file_duration, int, int, int& width,
                                  int& height) {
    duration = file_duration;
    width = 64;
    height = 48;
  };
  player::TPlayerHost host;
  host.Width = 64;
  host.Height = 48;
  host.PaintFrame = [](const runtime::Bitmap&) {};
  if (!player.Open(file.string(), host, true)) return 0;
  Serve(20);
  player.TogglePause();
  Serve(40);
  player.CurrentFrame();
  if (duration > 0) player.Seek(0, duration / 2);
  Serve(20);
  player.Stop(true);
  return 0;
}
