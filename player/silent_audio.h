// The sound output when no sound device can be opened: a thread that asks the audio callback for its data
// at the pace a device would play it and throws the data away. So the file still plays in time (the audio
// clock, the master, advances on the system clock), a file without video shows its waveform, and the end is
// met as with a device.
#pragma once

#include <SDL2/SDL_audio.h>

#include <atomic>
#include <thread>

namespace player {

class TSilentAudioOutput {
 public:
  TSilentAudioOutput() = default;
  ~TSilentAudioOutput() { Stop(); }
  TSilentAudioOutput(const TSilentAudioOutput&) = delete;
  TSilentAudioOutput& operator=(const TSilentAudioOutput&) = delete;

  // Calls callback(userdata, buffer, bytes) for every `samples` frames of `channels` signed 16-bit samples
  // at `rate` frames per second until Stop.
  void Start(SDL_AudioCallback callback, void* userdata, int rate, int channels, int samples);
  // Waits for a running callback to finish; no callback follows.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace player
