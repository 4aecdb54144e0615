// The ring of undelivered position and state events: 10 entries; an entry of the same kind as the one put
// just before replaces it, and when the ring is full the oldest entry is lost.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "player/player_types.h"
#include "runtime/manual_reset_event.h"

namespace player {

enum TPlayerEventKind : std::uint8_t { ekPosition = 1, ekState = 2, ekQuit = 3 };

struct TPlayerEvent {
  TPlayerEventKind Kind = ekQuit;
  TPlayState State = psStop;
  std::int64_t Timestamp = 0;
  std::uint64_t Generation = 0;  // the playback the event belongs to
};

class TEventRing {
 public:
  static constexpr int kSize = 10;

  void Put(const TPlayerEvent& event);
  std::optional<TPlayerEvent> Take();
  // Set while entries wait.
  const runtime::ManualResetEvent& Pending() const { return pending_; }

 private:
  std::mutex mutex_;                       // EventQueueLock
  std::array<TPlayerEvent, kSize> slots_;  // guarded by mutex_
  int read_ = 0;                           // guarded by mutex_
  int write_ = 0;                          // guarded by mutex_: one past the most recent entry
  bool empty_ = true;                      // guarded by mutex_
  runtime::ManualResetEvent pending_{false};
};

}  // namespace player
