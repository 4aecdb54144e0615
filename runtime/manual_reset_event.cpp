#include "runtime/manual_reset_event.h"

#include "runtime/main_thread.h"

namespace runtime {

void WaitServingMainThread(const ManualResetEvent& event, std::chrono::milliseconds slice) {
  if (!IsMainThread()) {
    event.Wait();
    return;
  }
  while (!event.WaitFor(slice))
    ServeWhileWaiting();
}

}  // namespace runtime
