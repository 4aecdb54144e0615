#include "cli/engine_mode.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "cli/engine_run.h"
#include "cli/interrupt_request.h"
#include "cli/progress_line.h"
#include "engine/vidrel.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kProgressInterval{500};

// Everything that needs the engine; the engine is gone (its workers joined, the output closed) when it
// returns.
RunResult Convert(const EngineRequest& request, RunWaiter& waiter, ProgressPrinter& printer,
                  const InterruptRequest& interrupt) {
  engine::TVidrel vidrel;
  std::string error;
  if (!PrepareEngine(
          vidrel, waiter,
          [&printer](const engine::TProgressInfo& info) {
            printer.Report(info, ProgressPrinter::Clock::now());
          },
          error)) {
    return Failure(error);
  }
  vidrel.SetProgressInterval(static_cast<int>(kProgressInterval.count()));
  const EngineMessagesOnStderr engine_messages;

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
  return WaitForRun(vidrel, waiter, interrupt);
}

}  // namespace

int RunEngineMode(const EngineRequest& request) {
  // Declared before the engine inside Convert, so all of them outlive it and its threads.
  const InterruptRequest interrupt;
  RunWaiter waiter;
  const MainThreadWakeup wakeup(waiter);
  ProgressPrinter printer(stderr, ::isatty(STDERR_FILENO) == 1, kProgressInterval);

  RunResult result;
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
