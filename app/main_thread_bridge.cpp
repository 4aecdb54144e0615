#include "app/main_thread_bridge.h"

#include <mutex>

#include "runtime/main_thread.h"

namespace app {

// The bridge as the workers reach it: a wake-up may be on its way while the bridge goes, so the bridge is
// taken away under the lock before it is destroyed.
struct MainThreadBridge::Handle {
  std::mutex Lock;
  MainThreadBridge* Bridge = nullptr;  // under Lock
};

MainThreadBridge::MainThreadBridge() : handle_(std::make_shared<Handle>()) {
  handle_->Bridge = this;
  connect(
      this, &MainThreadBridge::CallsQueued, this, [] { runtime::ServeQueuedCalls(); }, Qt::QueuedConnection);
  runtime::BindMainThread();
  runtime::SetMainThreadWakeup([handle = handle_] {
    // Runs on the queuing worker; a queued signal never waits, so no worker can block on a busy window.
    std::lock_guard hold(handle->Lock);
    if (handle->Bridge != nullptr) emit handle->Bridge->CallsQueued();
  });
}

MainThreadBridge::~MainThreadBridge() {
  {
    std::lock_guard hold(handle_->Lock);
    handle_->Bridge = nullptr;
  }
  runtime::SetMainThreadWaitWork(nullptr);
  runtime::SetMainThreadWakeup(nullptr);
  runtime::ShutdownMainThreadQueue();
}

}  // namespace app
