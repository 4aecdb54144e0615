#include "cli/profile_mode.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "cli/engine_run.h"
#include "cli/interrupt_request.h"
#include "cli/job_progress.h"
#include "cli/progress_board.h"
#include "cli/profile_choices.h"
#include "cli/record_text.h"
#include "engine/vidrel.h"
#include "profiles/job_builder.h"
#include "profiles/source_facts.h"
#include "runtime/main_thread.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kProgressInterval{500};
// How long the main loop sleeps at most before it looks at the interrupt flag again (a signal handler
// cannot wake a condition variable).
constexpr std::chrono::milliseconds kPollSlice{50};
constexpr int kInterruptedStatus = 130;

struct FileResult {
  std::string File;
  std::string Output;
  std::string Result;  // "Done", "Fail", "Abort", or "Skipped" after Ctrl-C
  std::string Reason;
};

void PrintSummary(const std::vector<FileResult>& results) {
  std::size_t file_width = 4;
  std::size_t output_width = 6;
  for (const FileResult& result : results) {
    file_width = std::max(file_width, result.File.size());
    output_width = std::max(output_width, result.Output.size());
  }
  std::printf("%-7s  %-*s  %-*s  %s\n", "Result", static_cast<int>(file_width), "File",
              static_cast<int>(output_width), "Output", "Reason");
  for (const FileResult& result : results) {
    std::printf("%-7s  %-*s  %-*s  %s\n", result.Result.c_str(), static_cast<int>(file_width),
                result.File.c_str(), static_cast<int>(output_width), result.Output.c_str(),
                result.Reason.c_str());
  }
  std::fflush(stdout);
}

// The records each file would hand the engine.
int ShowOptions(const profiles::WindowChoices& choices, const std::vector<profiles::JobSource>& sources,
                engine::TVidrel& vidrel) {
  int status = 0;
  for (const profiles::JobSource& source : sources) {
    std::printf("[%s]\n", source.Path.c_str());
    try {
      const std::string output = profiles::OutputPathFor(choices, source.Path);
      engine::TInputOptions input_options;
      engine::InitInputOptions(input_options);
      input_options.FileName = source.Path;
      engine::TOutputOptions output_options;
      profiles::FillOutputOptions(choices, source, vidrel.Probe(), output_options);
      std::printf("output=%s\n", output.c_str());
      for (const std::string& line : RecordLines(input_options))
        std::printf("input.%s\n", line.c_str());
      for (const std::string& line : RecordLines(output_options))
        std::printf("output.%s\n", line.c_str());
    } catch (const std::exception& error) {
      std::printf("error=%s\n", error.what());
      status = 1;
    }
    std::printf("\n");
  }
  return status;
}

// One engine for each file converted at the same time; it converts one file after another.
struct Lane {
  Lane(ProgressBoard& board, int row, bool with_bar) : Progress(board, row, with_bar, kProgressInterval) {}

  JobProgress Progress;                  // declared before the engine: its workers report into it
  engine::TOutputOptions OutputOptions;  // lives as long as the job that uses it
  engine::TVidrel Vidrel;
  std::optional<std::size_t> File;       // the file it converts now
  profiles::OutputExpectation Expected;  // what that file's output must be
};

std::string OutputShown(const std::string& output_path) {
  return output_path.empty() ? "-" : output_path;
}

}  // namespace

int RunProfileMode(const ProfileRequest& request) {
  if (request.ListProfiles) {
    const std::string list = ProfileListText();
    std::fwrite(list.data(), 1, list.size(), stdout);
    if (request.Files.empty()) return 0;
  }
  profiles::WindowChoices choices;
  std::string problem;
  if (!ApplyProfileRequest(request, choices, problem)) {
    std::fprintf(stderr, "tarvello-convert: %s\n", problem.c_str());
    return 2;
  }
  const std::size_t lane_count =
      std::max<std::size_t>(1, std::min<std::size_t>(request.Jobs, request.Files.size()));

  // Declared before the engines, so all of them outlive them and their threads.
  const InterruptRequest interrupt;
  RunWaiter waiter(lane_count);
  const MainThreadWakeup wakeup(waiter);
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  ProgressBoard board(stderr, terminal);

  std::deque<Lane> lanes;  // a deque keeps each lane in place, as its engine's handlers refer to it
  for (std::size_t at = 0; at < lane_count; ++at) {
    Lane& lane = lanes.emplace_back(board, static_cast<int>(at), terminal);
    std::string error;
    if (!PrepareEngine(
            lane.Vidrel, waiter,
            [&lane](const engine::TProgressInfo& info) {
              lane.Progress.Report(info, JobProgress::Clock::now());
            },
            error, at)) {
      std::fprintf(stderr, "tarvello-convert: %s\n", error.c_str());
      return 1;
    }
    lane.Vidrel.SetProgressInterval(static_cast<int>(kProgressInterval.count()));
  }
  engine::TVidrel& first_engine = lanes.front().Vidrel;

  // What the file list shows after "Add Video": each file's picture size, read with the engine's probe. A
  // file the probe cannot read stays in the queue and fails when its turn comes.
  std::vector<profiles::JobSource> sources;
  for (const std::string& file : request.Files) {
    const profiles::SourceFacts facts = profiles::ReadSourceFacts(first_engine.Probe(), file);
    sources.push_back(profiles::JobSource{file, facts.Opened ? facts.SizeColumn : std::string()});
  }
  if (request.ShowOptions) return ShowOptions(choices, sources, first_engine);

  QueuedEngineMessages engine_messages(waiter);
  const auto print_engine_messages = [&] {
    for (const std::string& line : engine_messages.Take())
      board.Print("\n" + line);
  };
  std::vector<FileResult> results;
  for (const profiles::JobSource& source : sources)
    results.push_back(FileResult{source.Path, "-", "Skipped", ""});

  // Starts the next file that starts at all on the lane; false when none is left.
  std::size_t next_file = 0;
  const auto report_failure = [&](std::size_t at, const std::string& reason) {
    board.Print("[" + std::to_string(at + 1) + "/" + std::to_string(sources.size()) + "] " +
                sources[at].Path + ": Fail: " + reason);
  };
  const auto start_next = [&](Lane& lane) {
    while (next_file < sources.size()) {
      const std::size_t at = next_file++;
      FileResult& result = results[at];
      const profiles::JobStart start =
          profiles::BuildAndStartJob(lane.Vidrel, choices, sources[at], lane.OutputOptions);
      result.Output = OutputShown(start.OutputPath);
      if (start.Started) {
        lane.File = at;
        lane.Expected = start.Expected;
        lane.Progress.Start(at + 1, sources.size(), sources[at].Path, start.OutputPath,
                            JobProgress::Clock::now());
        return true;
      }
      result.Result = "Fail";
      result.Reason = Failure(start.FailureText).ErrorText;
      report_failure(at, result.Reason);
    }
    return false;
  };

  bool stop_asked = false;
  while (true) {
    bool busy = false;
    for (Lane& lane : lanes) {
      if (!lane.File && !interrupt.Requested()) start_next(lane);
      busy = busy || lane.File.has_value();
    }
    if (!busy) break;
    runtime::ServeQueuedCalls();
    print_engine_messages();
    if (interrupt.Requested() && !stop_asked) {
      for (Lane& lane : lanes) {
        if (lane.File) lane.Vidrel.StopTask(false);
      }
      stop_asked = true;
    }
    for (std::size_t at = 0; at < lanes.size(); ++at) {
      Lane& lane = lanes[at];
      if (!lane.File || !waiter.RunOver(at)) continue;
      lane.Progress.Finish();
      const RunResult run = OutcomeOf(waiter.TaskOutcome(at));
      waiter.Reset(at);
      const std::size_t file = *lane.File;
      FileResult& result = results[file];
      lane.File.reset();
      switch (run.Kind) {
        case Outcome::kDone:
          // Only an output that reads back as what the job asked for is done.
          result.Reason = profiles::CheckOutput(lane.Vidrel.Probe(), lane.Expected);
          result.Result = result.Reason.empty() ? "Done" : "Fail";
          if (!result.Reason.empty()) report_failure(file, result.Reason);
          break;
        case Outcome::kFailed:
          result.Result = "Fail";
          result.Reason = run.ErrorText;
          break;
        case Outcome::kAborted:
          result.Result = "Abort";
          result.Reason = "stopped by the user";
          break;
      }
    }
    waiter.WaitForNews(kPollSlice);
  }
  print_engine_messages();
  for (Lane& lane : lanes)
    lane.Vidrel.ClearTasks();
  PrintSummary(results);
  const bool interrupted =
      interrupt.Requested() || std::any_of(results.begin(), results.end(),
                                           [](const FileResult& result) { return result.Result == "Abort"; });
  if (interrupted) return kInterruptedStatus;
  const bool all_done = std::all_of(results.begin(), results.end(),
                                    [](const FileResult& result) { return result.Result == "Done"; });
  return all_done ? 0 : 1;
}

}  // namespace cli
