// Many short cycles of start, pause, resume and stop on real conversions: one task, several tasks started
// at once, and several engines side by side. Each cycle ends with the all-done notification of every
// engine, whatever moment the stop came at (while paused included); every output left behind decodes, and
// no thread stays behind. A watchdog ends a deadlock with the stacks of every thread.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "conversion_runner.h"
#include "support/damaged_media.h"
#include "support/thread_count.h"
#include "support/watchdog.h"

namespace {

constexpr int kCycles = 200;
constexpr std::chrono::seconds kLimit{30};

struct Variant {
  const char* Name;
  int Engines;
  int Tasks;  // per engine, all started at once
};

void PrintTo(const Variant& variant, std::ostream* out) {
  *out << variant.Name;
}

class EngineStress : public testing::TestWithParam<Variant> {};

TEST_P(EngineStress, StartPauseResumeStopCyclesEndCleanly) {
  const Variant variant = GetParam();
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path input = damaged_media::LongerFile();
  ASSERT_FALSE(input.empty());
  std::vector<std::unique_ptr<engine::TVidrel>> engines;
  // One count of all-done notifications per engine; they arrive on threads of their own.
  auto all_done = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(variant.Engines));
  for (int at = 0; at < variant.Engines; ++at) {
    engines.push_back(std::make_unique<engine::TVidrel>());
    ASSERT_TRUE(engines.back()->LoadMediaLibraries(runtime::ProgramFolder()))
        << engines.back()->LastErrorText();
    engines.back()->SetOnTerminate(
        [&all_done, at](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
          if (info.TaskIndex < 0) ++all_done[static_cast<std::size_t>(at)];
        });
  }
  const auto output_of = [&](int engine, int task) {
    return folder / ("out_" + std::to_string(engine) + "_" + std::to_string(task) + ".mkv");
  };
  test_watchdog::Watchdog watchdog;
  const int threads = test_threads::LiveThreads();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    watchdog.Arm(std::string(variant.Name) + ": cycle " + std::to_string(cycle), kLimit);
    for (int at = 0; at < variant.Engines; ++at) {
      engine::TVidrel& vidrel = *engines[static_cast<std::size_t>(at)];
      for (int task = 0; task < variant.Tasks; ++task) {
        engine::TInputOptions in;
        engine::InitInputOptions(in);
        const int index = vidrel.AddTask(input.string(), &in);
        ASSERT_EQ(index, task) << vidrel.LastErrorText();
        engine::TOutputOptions out;
        engine::InitOutputOptions(out);
        out.ExtOptions = std::string("vcodec=mpeg4\nacodec=mp2") + (cycle % 2 == 1 ? "\npipeline=0" : "");
        // Each cycle's output is its task's own: a file that was there before a task is never removed.
        std::filesystem::remove(output_of(at, task));
        ASSERT_TRUE(vidrel.SetOutputFile(index, output_of(at, task).string(), &out))
            << vidrel.LastErrorText();
      }
    }
    std::vector<int> done_before;
    for (int at = 0; at < variant.Engines; ++at)
      done_before.push_back(all_done[static_cast<std::size_t>(at)]);
    for (auto& vidrel : engines)
      vidrel->StartTask(variant.Tasks);
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 5));
    for (auto& vidrel : engines)
      vidrel->PauseTask();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (cycle % 3 != 0) {  // every third cycle stops while paused
      for (auto& vidrel : engines)
        vidrel->ResumeTask();
      std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4));
    }
    for (auto& vidrel : engines)
      vidrel->StopTask(cycle % 2 == 0);
    ASSERT_TRUE(engine_test::WaitServing([&] {
      for (int at = 0; at < variant.Engines; ++at)
        if (all_done[static_cast<std::size_t>(at)] != done_before[static_cast<std::size_t>(at)] + 1)
          return false;
      return true;
    })) << "cycle "
        << cycle << ": no all-done notification";
    for (auto& vidrel : engines)
      vidrel->ClearTasks();
    if (cycle % 50 == 49) {
      // What a stopped conversion leaves is a file closed with its trailer that a reader opens (or nothing
      // when it had written nothing yet); stopped within milliseconds, a stream may lack its first frame.
      for (int at = 0; at < variant.Engines; ++at) {
        for (int task = 0; task < variant.Tasks; ++task) {
          const std::filesystem::path output = output_of(at, task);
          if (!std::filesystem::exists(output)) continue;
          const std::string problem = damaged_media::WhyNotReadable(output);
          EXPECT_EQ(problem, "") << "cycle " << cycle << ", engine " << at << ", task " << task;
          if (!problem.empty()) {  // kept for a look
            std::filesystem::copy_file(
                output, folder / ("undecodable_" + std::to_string(cycle) + "_" + output.filename().string()));
          }
        }
      }
    }
  }
  watchdog.Disarm();
  engines.clear();
  EXPECT_LE(test_threads::LiveThreads(), threads);
}

INSTANTIATE_TEST_SUITE_P(Schedules, EngineStress,
                         testing::Values(Variant{"one_task", 1, 1}, Variant{"three_tasks_at_once", 1, 3},
                                         Variant{"two_engines", 2, 1}),
                         [](const auto& case_info) { return std::string(case_info.param.Name); });

}  // namespace
