#include "runtime/main_thread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace runtime {
namespace {

struct QueuedCall {
  const std::function<void()>* call = nullptr;
  std::exception_ptr error;
  bool done = false;
};

struct Dispatcher {
  std::atomic<std::thread::id> main_thread{};
  std::mutex mutex;  // guards queue, shut_down, wakeup and every QueuedCall::done/error
  std::condition_variable call_done;
  std::deque<std::shared_ptr<QueuedCall>> queue;
  bool shut_down = false;
  std::function<void()> wakeup;
};

Dispatcher& TheDispatcher() {
  static Dispatcher dispatcher;
  return dispatcher;
}

void ReleaseAll(Dispatcher& d, std::unique_lock<std::mutex>& held) {
  for (auto& call : d.queue)
    call->done = true;
  d.queue.clear();
  held.unlock();
  d.call_done.notify_all();
}

}  // namespace

void BindMainThread() {
  Dispatcher& d = TheDispatcher();
  std::lock_guard lock(d.mutex);
  d.main_thread = std::this_thread::get_id();
  d.shut_down = false;
}

bool HasMainThread() {
  return TheDispatcher().main_thread.load() != std::thread::id{};
}

bool IsMainThread() {
  return TheDispatcher().main_thread.load() == std::this_thread::get_id();
}

void RunOnMainThread(const std::function<void()>& call) {
  Dispatcher& d = TheDispatcher();
  if (!HasMainThread() || IsMainThread()) {
    call();
    return;
  }
  auto queued = std::make_shared<QueuedCall>();
  queued->call = &call;
  std::function<void()> wakeup;
  {
    std::lock_guard lock(d.mutex);
    if (d.shut_down) return;
    d.queue.push_back(queued);
    wakeup = d.wakeup;
  }
  if (wakeup) wakeup();
  std::unique_lock lock(d.mutex);
  d.call_done.wait(lock, [&] { return queued->done; });
  if (queued->error) std::rethrow_exception(queued->error);
}

namespace {

std::function<void()>& WaitWork() {
  static std::function<void()> work;  // main thread only
  return work;
}

}  // namespace

void SetMainThreadWaitWork(std::function<void()> work) {
  WaitWork() = std::move(work);
}

void ServeWhileWaiting() {
  if (!IsMainThread()) return;
  ServeQueuedCalls();
  static bool working = false;  // main thread only
  if (working || !WaitWork()) return;
  working = true;
  try {
    WaitWork()();
  } catch (...) {
    working = false;
    throw;
  }
  working = false;
}

std::size_t ServeQueuedCalls() {
  if (!IsMainThread()) return 0;
  Dispatcher& d = TheDispatcher();
  std::size_t served = 0;
  std::unique_lock lock(d.mutex);
  while (!d.queue.empty()) {
    std::shared_ptr<QueuedCall> next = d.queue.front();
    d.queue.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      (*next->call)();
    } catch (...) {
      error = std::current_exception();
    }
    ++served;
    lock.lock();
    next->error = error;
    next->done = true;
    d.call_done.notify_all();
  }
  return served;
}

void SetMainThreadWakeup(std::function<void()> wakeup) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard lock(d.mutex);
  d.wakeup = std::move(wakeup);
}

void ShutdownMainThreadQueue() {
  Dispatcher& d = TheDispatcher();
  std::unique_lock lock(d.mutex);
  d.shut_down = true;
  ReleaseAll(d, lock);
}

}  // namespace runtime
