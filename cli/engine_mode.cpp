#include "cli/engine_mode.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

#include "cli/interrupt_request.h"
#include "cli/progress_line.h"
#include "engine/vidrel.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "runtime/program_folder.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kProgressInterval{500};
// How long the main loop sleeps at most before it looks at the interrupt flag again (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds kPollSlice{50};

// Collects the terminate notifications, which arrive on threads of their own, and wakes the main loop for
// them and for calls queued to the main thread.
class RunWaiter {
 public:
  void Record(const engine::TTerminateInfo& info) {
    std::lock_guard lock(mutex_);
    if (info.TaskIndex < 0) {
      all_done_ = true;
    } else {
      task_ = info;
    }
    news_ = true;
    changed_.notify_all();
  }

  void Wake() {
    std::lock_guard lock(mutex_);
    news_ = true;
    changed_.notify_all();
  }

  void WaitForNews(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return news_; });
    news_ = false;
  }

  // The task's own notification and the all-done one come in no fixed order; the run is over with both.
  bool RunOver() const {
    std::lock_guard lock(mutex_);
    return all_done_ && task_.has_value();
  }

  engine::TTerminateInfo TaskOutcome() const {
    std::lock_guard lock(mutex_);
    return task_.value_or(engine::TTerminateInfo{});
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool news_ = false;
  bool all_done_ = false;
  std::optional<engine::TTerminateInfo> task_;
};

// Points the main thread's wake-up at the waiter while it lives.
class MainThreadWakeup {
 public:
  explicit MainThreadWakeup(RunWaiter& waiter) {
    runtime::SetMainThreadWakeup([&waiter] { waiter.Wake(); });
  }
  ~MainThreadWakeup() { runtime::SetMainThreadWakeup({}); }
  MainThreadWakeup(const MainThreadWakeup&) = delete;
  MainThreadWakeup& operator=(const MainThreadWakeup&) = delete;
};

enum class Outcome { kDone, kFailed, kAborted };

struct Result {
  Outcome Kind = Outcome::kFailed;
  std::string ErrorText;  // kFailed
};

// Some of the engine's messages break their lines the way a dialog box wants ("\r\n").
Result Failure(std::string text) {
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return Result{Outcome::kFailed, std::move(text)};
}

// Everything that needs the engine; the engine is gone (its workers joined, the output closed) when it
// returns.
Result Convert(const EngineRequest& request, RunWaiter& waiter, ProgressPrinter& printer,
               const InterruptRequest& interrupt) {
  engine::TVidrel vidrel;
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    return Failure("the media libraries cannot be bound: " + vidrel.LastErrorText());
  }
  vidrel.SetProgressInterval(static_cast<int>(kProgressInterval.count()));
  // The printer is not thread-safe: progress must reach it on this thread, through ServeQueuedCalls.
  vidrel.SetTriggerEventInMainThread(true);
  vidrel.SetOnProgress([&printer](engine::TCustomVidrel&, engine::PProgressInfo info) {
    printer.Report(*info, ProgressPrinter::Clock::now());
  });
  vidrel.SetOnTerminate(
      [&waiter](engine::TCustomVidrel&, const engine::TTerminateInfo& info) { waiter.Record(info); });
  // Warnings and errors (a damaged input, a read error) reach the terminal as they happen; the final error
  // text is printed once at the end.
  runtime::Logger().SetTriggerEventInMainThread(false);
  runtime::Logger().SetOnLog(
      [](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
        if (level != runtime::llWarning && level != runtime::llError) return;
        std::fprintf(stderr, "\n%s: %s\n", level == runtime::llError ? "error" : "warning", line.c_str());
      });
  struct DetachLog {
    ~DetachLog() { runtime::Logger().SetOnLog(nullptr); }
  } detach_log;

  engine::TInputOptions input_options;
  engine::InitInputOptions(input_options);
  input_options.ExtOptions = OptionText(request.InputOptions);
  const int task = vidrel.AddTask(request.Input, &input_options);
  if (task < 0) return Failure(vidrel.LastErrorText());

  engine::TOutputOptions output_options;
  engine::InitOutputOptions(output_options);
  output_options.ExtOptions = OptionText(request.OutputOptions);
  if (!vidrel.SetOutputFile(task, request.Output, &output_options)) return Failure(vidrel.LastErrorText());

  vidrel.StartTask(1);
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
  return Result{outcome.Finished ? Outcome::kDone : Outcome::kAborted, {}};
}

}  // namespace

int RunEngineMode(const EngineRequest& request) {
  // Declared before the engine inside Convert, so all of them outlive it and its threads.
  const InterruptRequest interrupt;
  RunWaiter waiter;
  const MainThreadWakeup wakeup(waiter);
  ProgressPrinter printer(stderr, ::isatty(STDERR_FILENO) == 1, kProgressInterval);

  Result result;
  try {
    result = Convert(request, waiter, printer, interrupt);
  } catch (const std::exception& error) {
    result = Failure(error.what());
  }
  printer.Finish();
  switch (result.Kind) {
    case Outcome::kDone:
      std::puts("Done");
      return 0;
    case Outcome::kAborted:
      std::puts("Abort");
      return 1;
    case Outcome::kFailed:
      break;
  }
  std::fprintf(stderr, "tarvello-convert: %s\n", result.ErrorText.c_str());
  return 1;
}

}  // namespace cli
