#include "player/packet_queue.h"

namespace player {

bool TPacketQueue::Put(AVPacket* packet) {
  runtime::PacketPtr owned(runtime::avcodec().av_packet_alloc());
  if (owned == nullptr) return false;
  if (packet->buf == nullptr && packet->size > 0) {
    // Not reference counted: make a copy that owns its data.
    if (runtime::avcodec().av_packet_ref(owned.get(), packet) < 0) return false;
    runtime::avcodec().av_packet_unref(packet);
  } else {
    *owned = *packet;  // the reference moves over
    packet->buf = nullptr;
    packet->side_data = nullptr;
    packet->side_data_elems = 0;
    packet->data = nullptr;
    packet->size = 0;
  }
  std::lock_guard lock(mutex_);
  size_ += owned->size + kNodeOverhead;
  packets_.push_back(TQueuedPacket{std::move(owned)});
  changed_.notify_all();
  return true;
}

void TPacketQueue::PutFlush() {
  std::lock_guard lock(mutex_);
  size_ += kNodeOverhead;
  packets_.push_back(TQueuedPacket{});
  changed_.notify_all();
}

int TPacketQueue::Get(TQueuedPacket& entry, bool block) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (aborted_) return -1;
    if (!packets_.empty()) {
      entry = std::move(packets_.front());
      packets_.pop_front();
      size_ -= (entry.Packet != nullptr ? entry.Packet->size : 0) + kNodeOverhead;
      return 1;
    }
    if (!block) return 0;
    changed_.wait(lock);
  }
}

void TPacketQueue::Flush() {
  std::lock_guard lock(mutex_);
  packets_.clear();
  size_ = 0;
}

void TPacketQueue::Abort() {
  std::lock_guard lock(mutex_);
  aborted_ = true;
  changed_.notify_all();
}

bool TPacketQueue::Aborted() const {
  std::lock_guard lock(mutex_);
  return aborted_;
}

int TPacketQueue::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(packets_.size());
}

int TPacketQueue::Size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

}  // namespace player
