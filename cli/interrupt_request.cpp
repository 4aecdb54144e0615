#include "cli/interrupt_request.h"

#include <atomic>

namespace cli {
namespace {

constexpr int kSignalsThatEndAtOnce = 3;

// Changed from the signal handler, so it must be lock-free.
std::atomic<int> g_signal_count{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal) {
  if (g_signal_count.fetch_add(1) + 1 < kSignalsThatEndAtOnce) return;
  // Both calls are async-signal-safe; the signal, delivered again, ends the program as it would have.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal, &default_action, nullptr);
  raise(signal);
}

void Catch(int signal, struct sigaction& previous) {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, &previous);
}

}  // namespace

InterruptRequest::InterruptRequest() {
  g_signal_count.store(0);
  Catch(SIGINT, previous_interrupt_);
  Catch(SIGTERM, previous_terminate_);
}

InterruptRequest::~InterruptRequest() {
  sigaction(SIGINT, &previous_interrupt_, nullptr);
  sigaction(SIGTERM, &previous_terminate_, nullptr);
}

bool InterruptRequest::Requested() const {
  return g_signal_count.load() > 0;
}

}  // namespace cli
