// One owner per kind of SDL object the player makes.
#pragma once

#include <memory>

#include "runtime/library_loader.h"

namespace player {

struct SdlWindowDeleter {
  void operator()(SDL_Window* window) const { runtime::sdl().SDL_DestroyWindow(window); }
};
using SdlWindowPtr = std::unique_ptr<SDL_Window, SdlWindowDeleter>;

struct SdlRendererDeleter {
  void operator()(SDL_Renderer* renderer) const { runtime::sdl().SDL_DestroyRenderer(renderer); }
};
using SdlRendererPtr = std::unique_ptr<SDL_Renderer, SdlRendererDeleter>;

struct SdlTextureDeleter {
  void operator()(SDL_Texture* texture) const { runtime::sdl().SDL_DestroyTexture(texture); }
};
using SdlTexturePtr = std::unique_ptr<SDL_Texture, SdlTextureDeleter>;

// SDL's state of the calling thread (its error text): SDL frees it only for threads it made itself, so a
// thread of ours that calls SDL keeps one of these to the end.
class SdlThreadState {
 public:
  SdlThreadState() = default;
  ~SdlThreadState() { runtime::sdl().SDL_TLSCleanup(); }
  SdlThreadState(const SdlThreadState&) = delete;
  SdlThreadState& operator=(const SdlThreadState&) = delete;
};

// An opened audio device: closing it waits for a running callback to finish.
class SdlAudioDevice {
 public:
  SdlAudioDevice() = default;
  explicit SdlAudioDevice(SDL_AudioDeviceID id) : id_(id) {}
  ~SdlAudioDevice() { Reset(); }
  SdlAudioDevice(const SdlAudioDevice&) = delete;
  SdlAudioDevice& operator=(const SdlAudioDevice&) = delete;
  SDL_AudioDeviceID Get() const { return id_; }
  void Assign(SDL_AudioDeviceID id) {
    Reset();
    id_ = id;
  }
  void Reset() {
    if (id_ != 0) runtime::sdl().SDL_CloseAudioDevice(id_);
    id_ = 0;
  }

 private:
  SDL_AudioDeviceID id_ = 0;
};

}  // namespace player
