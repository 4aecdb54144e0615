#include "player/event_ring.h"

namespace player {

void TEventRing::Put(const TPlayerEvent& event) {
  std::lock_guard lock(mutex_);
  const int newest = (write_ + kSize - 1) % kSize;
  if (empty_ || slots_[static_cast<std::size_t>(newest)].Kind != event.Kind) {
    if (!empty_ && write_ == read_) read_ = (read_ + 1) % kSize;  // full: the oldest is lost
    slots_[static_cast<std::size_t>(write_)] = event;
    write_ = (write_ + 1) % kSize;
    empty_ = false;
  } else {
    slots_[static_cast<std::size_t>(newest)] = event;
  }
  pending_.Set();
}

std::optional<TPlayerEvent> TEventRing::Take() {
  std::lock_guard lock(mutex_);
  if (empty_) return std::nullopt;
  const TPlayerEvent event = slots_[static_cast<std::size_t>(read_)];
  read_ = (read_ + 1) % kSize;
  if (read_ == write_) {
    empty_ = true;
    pending_.Reset();
  }
  return event;
}

const char* AudioDriverName(TAudioDriver driver) {
  switch (driver) {
    case adDirectSound:
      return "pulseaudio";
    case adWaveOut:
      return "alsa";
    case adDefault:
      break;
  }
  return "";
}

const char* VideoDriverName(TVideoDriver driver) {
  switch (driver) {
    case vdDirectDraw:
      return "x11";
    case vdGDI:
      return "offscreen";
    case vdDefault:
      break;
  }
  return "";
}

}  // namespace player
