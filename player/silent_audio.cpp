#include "player/silent_audio.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace player {

void TSilentAudioOutput::Start(SDL_AudioCallback callback, void* userdata, int rate, int channels,
                               int samples) {
  Stop();
  stop_ = false;
  thread_ = std::thread([this, callback, userdata, rate, channels, samples] {
    using Clock = std::chrono::steady_clock;
    std::vector<Uint8> buffer(static_cast<std::size_t>(samples) * static_cast<std::size_t>(channels) * 2U);
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(samples) / static_cast<double>(rate)));
    Clock::time_point next = Clock::now();
    while (!stop_) {
      callback(userdata, buffer.data(), static_cast<int>(buffer.size()));
      next += period;
      const Clock::time_point now = Clock::now();
      // Far behind (the machine was busy): go on from now instead of catching up in a burst.
      if (now - next > std::chrono::seconds(1)) next = now;
      // Sleeps in short slices, so that Stop is answered soon.
      while (!stop_ && Clock::now() < next)
        std::this_thread::sleep_for(
            std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(5)));
    }
  });
}

void TSilentAudioOutput::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace player
