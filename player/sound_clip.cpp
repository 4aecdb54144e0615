#include "player/sound_clip.h"

#include <chrono>
#include <memory>
#include <thread>

#include "player/sdl_owners.h"
#include "runtime/library_loader.h"

namespace player {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);
// A clip is a fraction of a second: a device that never drains its queue must not hold the window longer.
constexpr auto kLongestWait = std::chrono::seconds(2);

struct WavBufferDeleter {
  void operator()(std::uint8_t* samples) const { runtime::sdl().SDL_FreeWAV(samples); }
};

// The audio subsystem, started here when the player has not started it (SDL counts the starts).
class AudioSubsystem {
 public:
  AudioSubsystem() : started_(runtime::sdl().SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {}
  ~AudioSubsystem() {
    if (started_) runtime::sdl().SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  AudioSubsystem(const AudioSubsystem&) = delete;
  AudioSubsystem& operator=(const AudioSubsystem&) = delete;
  bool Started() const { return started_; }

 private:
  bool started_;
};

bool Refuse(std::string* reason, const std::string& text) {
  if (reason != nullptr) *reason = text;
  return false;
}

}  // namespace

bool PlaySoundClip(const std::uint8_t* wav, std::size_t size, std::string* reason) {
  if (!runtime::FFmpegLoader().LibrariesLoaded(runtime::PlayerLibraries))
    return Refuse(reason, "libav or libsdl not loaded.");
  const runtime::SdlEntries& sdl = runtime::sdl();
  if (wav == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX))
    return Refuse(reason, "the sound is empty");
  AudioSubsystem audio;
  if (!audio.Started()) return Refuse(reason, std::string("SDL audio did not start: ") + sdl.SDL_GetError());

  SDL_AudioSpec clip_format{};
  std::uint8_t* samples = nullptr;
  Uint32 length = 0;
  // freesrc 1: SDL closes the memory reader whatever the outcome.
  if (sdl.SDL_LoadWAV_RW(sdl.SDL_RWFromConstMem(wav, static_cast<int>(size)), 1, &clip_format, &samples,
                         &length) == nullptr) {
    return Refuse(reason, std::string("the sound is no WAV file: ") + sdl.SDL_GetError());
  }
  const std::unique_ptr<std::uint8_t, WavBufferDeleter> owned(samples);

  clip_format.callback = nullptr;  // queued, not pulled
  SdlAudioDevice device(sdl.SDL_OpenAudioDevice(nullptr, 0, &clip_format, nullptr, 0));
  if (device.Get() == 0) return Refuse(reason, std::string("no sound device: ") + sdl.SDL_GetError());
  if (sdl.SDL_QueueAudio(device.Get(), samples, length) != 0)
    return Refuse(reason, std::string("the sound could not be queued: ") + sdl.SDL_GetError());
  sdl.SDL_PauseAudioDevice(device.Get(), 0);

  const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
  while (sdl.SDL_GetQueuedAudioSize(device.Get()) > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kPollInterval);
  // The device's own buffer still holds the last part of the clip when the queue is empty.
  const int bytes_per_frame = SDL_AUDIO_BITSIZE(clip_format.format) / 8 * clip_format.channels;
  if (clip_format.freq > 0 && bytes_per_frame > 0) {
    const auto held =
        std::chrono::microseconds(std::int64_t{clip_format.samples} * 1000000 / clip_format.freq);
    std::this_thread::sleep_for(held);
  }
  return true;
}

}  // namespace player
