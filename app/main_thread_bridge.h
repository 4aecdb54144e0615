// Serves the engine's main-thread queue from the Qt event loop: each call a worker queues sends one wake-up
// signal to the event loop, so the engine's events reach the window without polling, and modal dialogs and
// every other nested loop keep serving them.
#pragma once

#include <QObject>
#include <memory>

namespace app {

class MainThreadBridge : public QObject {
  Q_OBJECT
 public:
  // Binds the calling thread (Qt's main thread) as the engine's main thread.
  MainThreadBridge();
  // Stops serving: calls queued later are dropped and their callers released.
  ~MainThreadBridge() override;
  MainThreadBridge(const MainThreadBridge&) = delete;
  MainThreadBridge& operator=(const MainThreadBridge&) = delete;

 signals:
  // Emitted on the queuing worker; received on the main thread.
  void CallsQueued();

 private:
  struct Handle;
  std::shared_ptr<Handle> handle_;
};

}  // namespace app
