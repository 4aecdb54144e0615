// A manual-reset event: stays set until reset; every waiter sees it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace runtime {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initially_set) : set_(initially_set) {}

  // Notifies while holding the lock: a waiter that sees the event set may destroy it at once (a task's "done"
  // event), so Set must not touch it after the lock is released.
  void Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
  }
  bool IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
  }
  void Wait() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
  }
  bool WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return set_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_;  // guarded by mutex_
};

// Waits for the event in slices; on the main thread every slice that ends without the event serves the calls
// that workers have queued for the main thread, so a worker waiting on the main thread can reach its end.
void WaitServingMainThread(const ManualResetEvent& event,
                           std::chrono::milliseconds slice = std::chrono::milliseconds(20));

}  // namespace runtime
