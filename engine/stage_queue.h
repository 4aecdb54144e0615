// The queue between two stages of a pipelined conversion run: bounded, so a fast stage waits for a slow one
// instead of filling memory; closable, so the consumer takes what is left and then sees the end; abortable,
// so an error or the run's end releases both sides at once. The time each side spends waiting is counted for
// the run's stage report.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace engine {

template <class T>
class StageQueue {
 public:
  explicit StageQueue(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}
  StageQueue(const StageQueue&) = delete;
  StageQueue& operator=(const StageQueue&) = delete;

  // Waits for room; false when the queue was aborted or closed (the item is dropped).
  bool Push(T item) {
    std::unique_lock lock(mutex_);
    if (items_.size() >= capacity_ && !aborted_ && !closed_) {
      const Clock::time_point start = Clock::now();
      room_.wait(lock, [this] { return items_.size() < capacity_ || aborted_ || closed_; });
      push_wait_ += Clock::now() - start;
    }
    if (aborted_ || closed_) return false;
    items_.push_back(std::move(item));
    ready_.notify_one();
    return true;
  }

  // Waits for an item; none once the queue is closed and empty, or aborted.
  std::optional<T> Pop() {
    std::unique_lock lock(mutex_);
    if (items_.empty() && !aborted_ && !closed_) {
      const Clock::time_point start = Clock::now();
      ready_.wait(lock, [this] { return !items_.empty() || aborted_ || closed_; });
      pop_wait_ += Clock::now() - start;
    }
    if (aborted_ || items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    room_.notify_one();
    return item;
  }

  // No more items come; the consumer still takes the ones queued.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_all();
    room_.notify_all();
  }

  // Both sides stop now; what is queued is dropped.
  void Abort() {
    std::deque<T> dropped;
    {
      std::lock_guard lock(mutex_);
      aborted_ = true;
      dropped.swap(items_);
      ready_.notify_all();
      room_.notify_all();
    }
  }

  // Seconds the producers waited for room, and the consumer for items.
  double PushWaitSeconds() const {
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double>(push_wait_).count();
  }
  double PopWaitSeconds() const {
    std::lock_guard lock(mutex_);
    return std::chrono::duration<double>(pop_wait_).count();
  }

 private:
  using Clock = std::chrono::steady_clock;

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;  // an item came, or the queue closed or aborted
  std::condition_variable room_;   // an item was taken, or the queue closed or aborted
  std::deque<T> items_;            // guarded by mutex_
  bool closed_ = false;            // guarded by mutex_
  bool aborted_ = false;           // guarded by mutex_
  Clock::duration push_wait_{};    // guarded by mutex_
  Clock::duration pop_wait_{};     // guarded by mutex_
};

}  // namespace engine
