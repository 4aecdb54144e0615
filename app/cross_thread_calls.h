// Calls that worker threads hand to the thread this object lives on (the main thread). Each call waits in a
// queue under a lock of our own and only a wake-up signal crosses Qt's event queue: the hand-over is one a
// race detector sees, and nothing a worker made is freed by Qt on another thread.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace app {

class CrossThreadCalls final : public QObject {
  Q_OBJECT
 public:
  explicit CrossThreadCalls(QObject* parent = nullptr);

  // Any thread; never waits for the receiving thread. The calls run there in the order posted, unless this
  // object is destroyed first: then the calls still waiting are dropped.
  void Post(std::function<void()> call);

 signals:
  void Posted();

 private:
  void RunPosted();

  std::mutex lock_;
  std::deque<std::function<void()>> calls_;  // under lock_
  bool wake_pending_ = false;                // under lock_: a Posted signal is on its way
};

}  // namespace app
