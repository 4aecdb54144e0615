// Runs one job as the window's queue does: built and started from the choices, then waited for until both
// terminations (the task's and the all-done one) have arrived, serving the main thread meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>

#include "engine/engine_test_support.h"
#include "engine/vidrel.h"
#include "profiles/job_builder.h"
#include "profiles/output_formats.h"
#include "profiles/parameter_lists.h"
#include "profiles/source_facts.h"

namespace profiles_test {

// The choices a first run of the window starts with, for the profile of row_text, writing into folder.
inline profiles::WindowChoices FirstRunChoices(const std::string& row_text, const std::string& folder) {
  profiles::WindowChoices choices;
  profiles::FillPreferenceLists(choices);
  profiles::FillOutputFormatList(choices);
  const int row = choices.ComboOutputFormat.IndexOf(row_text);
  EXPECT_GE(row, 0) << row_text;
  profiles::RestoreProfileChoices(choices, row, 2, 2);
  choices.OutputFolder = folder;
  return choices;
}

struct JobRun {
  profiles::JobStart Start;
  bool Finished = false;
  bool ExceptionRaised = false;
  std::string ErrorText;
};

inline JobRun RunJob(engine::TVidrel& vidrel, const profiles::WindowChoices& choices,
                     const std::string& source_path, engine::TOutputOptions& output_options) {
  JobRun run;
  std::mutex mutex;
  bool task_ended = false;
  bool all_done = false;
  vidrel.SetOnTerminate([&](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
    std::lock_guard lock(mutex);
    if (info.TaskIndex < 0) {
      all_done = true;
      return;
    }
    task_ended = true;
    run.Finished = info.Finished;
    run.ExceptionRaised = info.ExceptionRaised;
    run.ErrorText = info.ExceptionMessage;
  });
  const profiles::SourceFacts facts = profiles::ReadSourceFacts(vidrel.Probe(), source_path);
  run.Start = profiles::BuildAndStartJob(vidrel, choices, profiles::JobSource{source_path, facts.SizeColumn},
                                         output_options);
  if (run.Start.Started) {
    EXPECT_TRUE(engine_test::WaitServing(
        [&] {
          std::lock_guard lock(mutex);
          return task_ended && all_done;
        },
        std::chrono::seconds(100)));
  }
  vidrel.SetOnTerminate(nullptr);
  std::lock_guard lock(mutex);
  return run;
}

}  // namespace profiles_test
