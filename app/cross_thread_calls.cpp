#include "app/cross_thread_calls.h"

#include <utility>

namespace app {

CrossThreadCalls::CrossThreadCalls(QObject* parent) : QObject(parent) {
  connect(this, &CrossThreadCalls::Posted, this, &CrossThreadCalls::RunPosted, Qt::QueuedConnection);
}

void CrossThreadCalls::Post(std::function<void()> call) {
  bool wake = false;
  {
    std::lock_guard hold(lock_);
    calls_.push_back(std::move(call));
    wake = !wake_pending_;
    wake_pending_ = true;
  }
  if (wake) emit Posted();
}

void CrossThreadCalls::RunPosted() {
  std::function<void()> call;
  bool more = false;
  {
    std::lock_guard hold(lock_);
    if (calls_.empty()) {
      wake_pending_ = false;
      return;
    }
    call = std::move(calls_.front());
    calls_.pop_front();
    more = !calls_.empty();
    wake_pending_ = more;
  }
  // One call per wake-up, as Qt delivers its events: the next one also runs inside a loop this call opens (a
  // message box), and after it in any case. Nothing here is touched after the call, which may end this
  // object.
  if (more) emit Posted();
  call();
}

}  // namespace app
