#include "app/main_thread_bridge.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "runtime/main_thread.h"

namespace app {

MainThreadBridge::MainThreadBridge() {
  runtime::BindMainThread();
  runtime::SetMainThreadWakeup([] {
    // Runs on the queuing worker; posting never waits, so no worker can block on a busy window.
    if (QCoreApplication* application = QCoreApplication::instance(); application != nullptr) {
      QMetaObject::invokeMethod(
          application, [] { runtime::ServeQueuedCalls(); }, Qt::QueuedConnection);
    }
  });
}

MainThreadBridge::~MainThreadBridge() {
  runtime::SetMainThreadWaitWork(nullptr);
  runtime::SetMainThreadWakeup(nullptr);
  runtime::ShutdownMainThreadQueue();
}

}  // namespace app
