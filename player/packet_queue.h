// The packets read for one played stream, waiting for its decoder. Besides packets the queue carries the
// flush marker (put after a seek: the decoder drops what it holds).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "runtime/media_owners.h"

namespace player {

struct TQueuedPacket {
  runtime::PacketPtr Packet;  // null for the flush marker
  bool IsFlush() const { return Packet == nullptr; }
};

class TPacketQueue {
 public:
  static constexpr int kNodeOverhead = 72;

  // Takes the packet's reference over (the packet is left blank). False when no memory.
  bool Put(AVPacket* packet);
  void PutFlush();
  // 1 with an entry, 0 when empty and not blocking, -1 when aborted.
  int Get(TQueuedPacket& entry, bool block);
  void Flush();
  void Abort();
  bool Aborted() const;
  int Count() const;
  int Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TQueuedPacket> packets_;  // guarded by mutex_
  int size_ = 0;                       // guarded by mutex_: data sizes plus kNodeOverhead per entry
  bool aborted_ = false;               // guarded by mutex_
};

}  // namespace player
