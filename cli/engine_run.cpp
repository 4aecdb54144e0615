#include "cli/engine_run.h"

#include <cstddef>
#include <cstdio>
#include <utility>

#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "runtime/program_folder.h"

namespace cli {
namespace {

// How long the main loop sleeps at most before it looks at the interrupt flag again (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds kPollSlice{50};

}  // namespace

void RunWaiter::Record(std::size_t lane, const engine::TTerminateInfo& info) {
  std::lock_guard lock(mutex_);
  if (info.TaskIndex < 0) {
    lanes_.at(lane).AllDone = true;
  } else {
    lanes_.at(lane).Task = info;
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

bool RunWaiter::RunOver(std::size_t lane) const {
  std::lock_guard lock(mutex_);
  return lanes_.at(lane).AllDone && lanes_.at(lane).Task.has_value();
}

engine::TTerminateInfo RunWaiter::TaskOutcome(std::size_t lane) const {
  std::lock_guard lock(mutex_);
  return lanes_.at(lane).Task.value_or(engine::TTerminateInfo{});
}

void RunWaiter::Reset(std::size_t lane) {
  std::lock_guard lock(mutex_);
  lanes_.at(lane) = Lane{};
}

MainThreadWakeup::MainThreadWakeup(RunWaiter& waiter) {
  runtime::SetMainThreadWakeup([&waiter] { waiter.Wake(); });
}

MainThreadWakeup::~MainThreadWakeup() {
  runtime::SetMainThreadWakeup({});
}

QueuedEngineMessages::QueuedEngineMessages(RunWaiter& waiter) {
  // Messages come from the workers, which must not wait for the main thread here.
  runtime::Logger().SetTriggerEventInMainThread(false);
  runtime::Logger().SetOnLog([this, &waiter](const runtime::LogSource*, std::uint32_t,
                                             runtime::TLogLevel level, const std::string& line) {
    if (level != runtime::llWarning && level != runtime::llError) return;
    {
      std::lock_guard lock(mutex_);
      lines_.push_back((level == runtime::llError ? "error: " : "warning: ") + line);
    }
    waiter.Wake();
  });
}

QueuedEngineMessages::~QueuedEngineMessages() {
  runtime::Logger().SetOnLog(nullptr);
}

std::vector<std::string> QueuedEngineMessages::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(lines_, {});
}

EngineMessagesOnStderr::EngineMessagesOnStderr() {
  // Messages come from the workers, which must not wait for the main thread here.
  runtime::Logger().SetTriggerEventInMainThread(false);
  runtime::Logger().SetOnLog(
      [](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
        if (level == runtime::llWarning || level == runtime::llError) {
          std::fprintf(stderr, "\n%s: %s\n", level == runtime::llError ? "error" : "warning", line.c_str());
        } else if ((level == runtime::llInfo || level == runtime::llVerbose) &&
                   runtime::Logger().LogLevel() >= runtime::llVerbose) {
          // Asked for with the option "loglevel=verbose": the engine's own account (streams, stage times).
          std::fprintf(stderr, "%s\n", line.c_str());
        }
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

RunResult OutcomeOf(const engine::TTerminateInfo& info) {
  if (info.ExceptionRaised) {
    return Failure(info.ExceptionMessage.empty() ? "the conversion failed" : info.ExceptionMessage);
  }
  return RunResult{info.Finished ? Outcome::kDone : Outcome::kAborted, {}};
}

bool PrepareEngine(engine::TVidrel& vidrel, RunWaiter& waiter,
                   std::function<void(const engine::TProgressInfo&)> on_progress, std::string& error,
                   std::size_t lane) {
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    error = "the media libraries cannot be bound: " + vidrel.LastErrorText();
    return false;
  }
  // Progress handlers of the front end are not thread-safe: progress must reach them on this thread.
  vidrel.SetTriggerEventInMainThread(true);
  vidrel.SetOnProgress([on_progress = std::move(on_progress)](
                           engine::TCustomVidrel&, engine::PProgressInfo info) { on_progress(*info); });
  vidrel.SetOnTerminate([&waiter, lane](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
    waiter.Record(lane, info);
  });
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
  return OutcomeOf(waiter.TaskOutcome());
}

}  // namespace cli
