// What every conversion of the front end needs around the engine: waiting for a task's two terminations
// while the main thread serves the engine's calls, a stop on Ctrl-C, and the engine's warnings on stderr.
#pragma once

#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/interrupt_request.h"
#include "engine/vidrel.h"

namespace cli {

// Collects the terminate notifications, which arrive on threads of their own, and wakes the main loop for
// them and for calls queued to the main thread. One lane for each engine that runs a task at the same time.
class RunWaiter {
 public:
  explicit RunWaiter(std::size_t lanes = 1) : lanes_(lanes) {}

  void Record(std::size_t lane, const engine::TTerminateInfo& info);
  void Wake();
  void WaitForNews(std::chrono::milliseconds timeout);
  // The task's own notification and the all-done one come in no fixed order; the run is over with both.
  bool RunOver(std::size_t lane = 0) const;
  engine::TTerminateInfo TaskOutcome(std::size_t lane = 0) const;
  // Forgets a finished run's notifications, before the lane's next task starts.
  void Reset(std::size_t lane = 0);

 private:
  struct Lane {
    bool AllDone = false;
    std::optional<engine::TTerminateInfo> Task;
  };

  mutable std::mutex mutex_;  // guards all below
  std::condition_variable changed_;
  bool news_ = false;
  std::vector<Lane> lanes_;
};

// Points the main thread's wake-up at the waiter while it lives.
class MainThreadWakeup {
 public:
  explicit MainThreadWakeup(RunWaiter& waiter);
  ~MainThreadWakeup();
  MainThreadWakeup(const MainThreadWakeup&) = delete;
  MainThreadWakeup& operator=(const MainThreadWakeup&) = delete;
};

// Keeps the engine's warnings and errors ("warning: ...", "error: ...") that the workers log, while it lives,
// until the main thread takes them to print them between its progress lines; each new one wakes the waiter.
class QueuedEngineMessages {
 public:
  explicit QueuedEngineMessages(RunWaiter& waiter);
  ~QueuedEngineMessages();
  QueuedEngineMessages(const QueuedEngineMessages&) = delete;
  QueuedEngineMessages& operator=(const QueuedEngineMessages&) = delete;

  std::vector<std::string> Take();

 private:
  std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

// Prints the engine's warnings and errors (a damaged input, a read error) on stderr as they happen, while it
// lives; each starts on a line of its own, below a progress line that a terminal shows.
class EngineMessagesOnStderr {
 public:
  EngineMessagesOnStderr();
  ~EngineMessagesOnStderr();
  EngineMessagesOnStderr(const EngineMessagesOnStderr&) = delete;
  EngineMessagesOnStderr& operator=(const EngineMessagesOnStderr&) = delete;
};

enum class Outcome { kDone, kFailed, kAborted };

struct RunResult {
  Outcome Kind = Outcome::kFailed;
  std::string ErrorText;  // kFailed
};

// A failure with the text on one line: some of the engine's messages break their lines the way a dialog box
// wants ("\r\n").
RunResult Failure(std::string text);

// The outcome of a task from its terminate notification.
RunResult OutcomeOf(const engine::TTerminateInfo& info);

// Binds the engine's libraries and routes its events: progress to on_progress on the main thread (inside
// ServeQueuedCalls), terminations to the waiter's lane. False, with the reason in error, when binding fails.
bool PrepareEngine(engine::TVidrel& vidrel, RunWaiter& waiter,
                   std::function<void(const engine::TProgressInfo&)> on_progress, std::string& error,
                   std::size_t lane = 0);

// Waits for the started task to end, serving the main thread's queue; an interrupt asks the task to stop
// (once). The outcome of the task.
RunResult WaitForRun(engine::TVidrel& vidrel, RunWaiter& waiter, const InterruptRequest& interrupt);

}  // namespace cli
