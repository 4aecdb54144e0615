#include "cli/engine_run.h"

#include <cstddef>
#include <cstdio>

#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "runtime/program_folder.h"

namespace cli {
namespace {

// How long the main loop sleeps at most before it looks at the interrupt flag again (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds kPollSlice{50};

}  // namespace

void RunWaiter::Record(const engine::TTerminateInfo& info) {
  std::lock_guard lock(mutex_);
  if (info.TaskIndex < 0) {
    all_done_ = true;
  } else {
    task_ = info;
  }
  news_ = true;
  changed_.notify_all();
}

void RunWaiter::Wake() {
  std::lock_guard lock(mutex_);
  news_ = true;
  changed_.notify_all();
}

void RunWaiter::WaitForNews(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [this] { return news_; });
  news_ = false;
}

bool RunWaiter::RunOver() const {
  std::lock_guard lock(mutex_);
  return all_done_ && task_.has_value();
}

engine::TTerminateInfo RunWaiter::TaskOutcome() const {
  std::lock_guard lock(mutex_);
  return task_.value_or(engine::TTerminateInfo{});
}

void RunWaiter::Reset() {
  std::lock_guard lock(mutex_);
  all_done_ = false;
  task_.reset();
}

MainThreadWakeup::MainThreadWakeup(RunWaiter& waiter) {
  runtime::SetMainThreadWakeup([&waiter] { waiter.Wake(); });
}

MainThreadWakeup::~MainThreadWakeup() {
  runtime::SetMainThreadWakeup({});
}

EngineMessagesOnStderr::EngineMessagesOnStderr() {
  // Messages come from the workers, which must not wait for the main thread here.
  runtime::Logger().SetTriggerEventInMainThread(false);
  runtime::Logger().SetOnLog(
      [](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
        if (level != runtime::llWarning && level != runtime::llError) return;
        std::fprintf(stderr, "\n%s: %s\n", level == runtime::llError ? "error" : "warning", line.c_str());
      });
}

EngineMessagesOnStderr::~EngineMessagesOnStderr() {
  runtime::Logger().SetOnLog(nullptr);
}

RunResult Failure(std::string text) {
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return RunResult{Outcome::kFailed, std::move(text)};
}

bool PrepareEngine(engine::TVidrel& vidrel, RunWaiter& waiter,
                   std::function<void(const engine::TProgressInfo&)> on_progress, std::string& error) {
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    error = "the media libraries cannot be bound: " + vidrel.LastErrorText();
    return false;
  }
  // Progress handlers of the front end are not thread-safe: progress must reach them on this thread.
  vidrel.SetTriggerEventInMainThread(true);
  vidrel.SetOnProgress([on_progress = std::move(on_progress)](
                           engine::TCustomVidrel&, engine::PProgressInfo info) { on_progress(*info); });
  vidrel.SetOnTerminate(
      [&waiter](engine::TCustomVidrel&, const engine::TTerminateInfo& info) { waiter.Record(info); });
  return true;
}

RunResult WaitForRun(engine::TVidrel& vidrel, RunWaiter& waiter, const InterruptRequest& interrupt) {
  bool stop_asked = false;
  while (!waiter.RunOver()) {
    runtime::ServeQueuedCalls();
    if (interrupt.Requested() && !stop_asked) {
      vidrel.StopTask(false);
      stop_asked = true;
    }
    waiter.WaitForNews(kPollSlice);
  }
  const engine::TTerminateInfo outcome = waiter.TaskOutcome();
  if (outcome.ExceptionRaised) {
    return Failure(outcome.ExceptionMessage.empty() ? "the conversion failed" : outcome.ExceptionMessage);
  }
  return RunResult{outcome.Finished ? Outcome::kDone : Outcome::kAborted, {}};
}

}  // namespace cli
