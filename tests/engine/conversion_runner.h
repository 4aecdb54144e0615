// Runs one real conversion through the engine component on a worker thread, as the window does, and reports
// how it ended.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "engine/vidrel.h"
#include "engine_test_support.h"
#include "runtime/library_loader.h"

namespace engine_test {

struct ConversionResult {
  bool Added = false;      // AddTask succeeded
  bool OutputSet = false;  // SetOutputFile succeeded
  bool Terminated = false;
  bool Finished = false;
  bool ExceptionRaised = false;
  std::string ErrorText;  // LastErrorText or the exception message
  int ProgressEvents = 0;
  std::int64_t LastProgressTime = 0;  // the output time of the last progress report, microseconds
};

// Runs one task on a component whose libraries are bound (and whose other handlers the caller may have set),
// until the all-done notification; its progress and terminate handlers are removed again afterwards.
inline ConversionResult RunConversion(
    engine::TVidrel& vidrel, const std::filesystem::path& input, const std::filesystem::path& output,
    const std::string& input_options = "", const std::string& output_options = "",
    const std::function<void(engine::TOutputOptions&)>& set_fields = nullptr) {
  ConversionResult result;
  // Terminations arrive on threads of their own, the task's and the all-done one in no fixed order; progress
  // on the main thread.
  std::mutex mutex;
  bool task_ended = false;
  vidrel.SetOnProgress([&](engine::TCustomVidrel&, engine::PProgressInfo info) {
    ++result.ProgressEvents;
    result.LastProgressTime = info->CurrentDuration;
  });
  vidrel.SetOnTerminate([&](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
    std::lock_guard lock(mutex);
    if (info.TaskIndex < 0) {
      result.Terminated = true;
      return;
    }
    task_ended = true;
    result.Finished = info.Finished;
    result.ExceptionRaised = info.ExceptionRaised;
    if (info.ExceptionRaised) result.ErrorText = info.ExceptionMessage;
  });
  engine::TInputOptions in;
  engine::InitInputOptions(in);
  in.ExtOptions = input_options;
  const int index = vidrel.AddTask(input.string(), &in);
  if (index < 0) {
    result.ErrorText = vidrel.LastErrorText();
    return result;
  }
  result.Added = true;
  engine::TOutputOptions out;
  engine::InitOutputOptions(out);
  out.ExtOptions = output_options;
  if (set_fields) set_fields(out);
  if (!vidrel.SetOutputFile(index, output.string(), &out)) {
    result.ErrorText = vidrel.LastErrorText();
    return result;
  }
  result.OutputSet = true;
  vidrel.StartTask(1);
  EXPECT_TRUE(WaitServing(
      [&] {
        std::lock_guard lock(mutex);
        return result.Terminated && task_ended;
      },
      std::chrono::seconds(60)));
  vidrel.SetOnProgress(nullptr);
  vidrel.SetOnTerminate(nullptr);
  std::lock_guard lock(mutex);
  return result;
}

inline ConversionResult Convert(const std::filesystem::path& input, const std::filesystem::path& output,
                                const std::string& input_options = "", const std::string& output_options = "",
                                const std::function<void(engine::TOutputOptions&)>& set_fields = nullptr) {
  engine::TVidrel vidrel;
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    ConversionResult result;
    result.ErrorText = vidrel.LastErrorText();
    return result;
  }
  return RunConversion(vidrel, input, output, input_options, output_options, set_fields);
}

}  // namespace engine_test
