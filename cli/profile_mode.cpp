#include "cli/profile_mode.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/engine_run.h"
#include "cli/interrupt_request.h"
#include "cli/job_progress.h"
#include "cli/profile_choices.h"
#include "cli/record_text.h"
#include "engine/vidrel.h"
#include "profiles/job_builder.h"
#include "profiles/source_facts.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kProgressInterval{500};
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

  // Declared before the engine, so all of them outlive it and its threads.
  const InterruptRequest interrupt;
  RunWaiter waiter;
  const MainThreadWakeup wakeup(waiter);
  JobProgress progress(stderr, ::isatty(STDERR_FILENO) == 1, kProgressInterval);

  engine::TVidrel vidrel;
  std::string error;
  if (!PrepareEngine(
          vidrel, waiter,
          [&progress](const engine::TProgressInfo& info) {
            progress.Report(info, JobProgress::Clock::now());
          },
          error)) {
    std::fprintf(stderr, "tarvello-convert: %s\n", error.c_str());
    return 1;
  }
  vidrel.SetProgressInterval(static_cast<int>(kProgressInterval.count()));

  // What the file list shows after "Add Video": each file's picture size, read with the engine's probe. A
  // file the probe cannot read stays in the queue and fails when its turn comes.
  std::vector<profiles::JobSource> sources;
  for (const std::string& file : request.Files) {
    const profiles::SourceFacts facts = profiles::ReadSourceFacts(vidrel.Probe(), file);
    sources.push_back(profiles::JobSource{file, facts.Opened ? facts.SizeColumn : std::string()});
  }
  if (request.ShowOptions) return ShowOptions(choices, sources, vidrel);

  const EngineMessagesOnStderr engine_messages;
  std::vector<FileResult> results;
  bool interrupted = false;
  engine::TOutputOptions output_options;  // lives as long as the job that uses it
  for (std::size_t at = 0; at < sources.size(); ++at) {
    const profiles::JobSource& source = sources[at];
    FileResult result{source.Path, "-", "Skipped", ""};
    if (interrupted || interrupt.Requested()) {
      interrupted = true;
      results.push_back(result);
      continue;
    }
    waiter.Reset();
    const profiles::JobStart start = profiles::BuildAndStartJob(vidrel, choices, source, output_options);
    result.Output = OutputShown(start.OutputPath);
    if (!start.Started) {
      result.Result = "Fail";
      result.Reason = Failure(start.FailureText).ErrorText;
      std::fprintf(stderr, "[%zu/%zu] %s: Fail: %s\n", at + 1, sources.size(), source.Path.c_str(),
                   result.Reason.c_str());
      results.push_back(result);
      continue;
    }
    progress.Start(at + 1, sources.size(), source.Path, start.OutputPath, JobProgress::Clock::now());
    const RunResult run = WaitForRun(vidrel, waiter, interrupt);
    progress.Finish();
    switch (run.Kind) {
      case Outcome::kDone:
        result.Result = "Done";
        break;
      case Outcome::kFailed:
        result.Result = "Fail";
        result.Reason = run.ErrorText;
        break;
      case Outcome::kAborted:
        result.Result = "Abort";
        result.Reason = "stopped by the user";
        interrupted = true;
        break;
    }
    if (interrupt.Requested()) interrupted = true;
    results.push_back(result);
  }
  vidrel.ClearTasks();
  PrintSummary(results);
  if (interrupted) return kInterruptedStatus;
  const bool all_done = std::all_of(results.begin(), results.end(),
                                    [](const FileResult& result) { return result.Result == "Done"; });
  return all_done ? 0 : 1;
}

}  // namespace cli
