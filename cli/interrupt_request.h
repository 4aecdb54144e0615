// Ctrl-C (SIGINT) and SIGTERM during a conversion ask the conversion to stop, so that the output is closed
// properly. One key press may arrive more than once (the terminal signals the whole process group, and a
// wrapper such as timeout(1) forwards it as well), so only the third signal has the signal's default
// effect and ends the program at once, for a conversion that does not stop.
#pragma once

#include <csignal>

namespace cli {

// Catches the two signals while it lives and restores the actions found before.
class InterruptRequest {
 public:
  InterruptRequest();
  ~InterruptRequest();
  InterruptRequest(const InterruptRequest&) = delete;
  InterruptRequest& operator=(const InterruptRequest&) = delete;

  // A signal has arrived since the handler was installed.
  bool Requested() const;

 private:
  struct sigaction previous_interrupt_ {};
  struct sigaction previous_terminate_ {};
};

}  // namespace cli
