#include <gtest/gtest.h>

#include <map>

#include "engine/ffmpeg_exception.h"
#include "engine_test_support.h"
#include "support/media_fixtures.h"

namespace engine_test {
namespace {

using engine::TTerminateInfo;

class VidrelLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::BindMainThread();
    ASSERT_TRUE(vidrel_.LoadMediaLibraries(runtime::ProgramFolder())) << vidrel_.LastErrorText();
    folder_ = TestFolder();
    input_ = media_test::H264AacMp4();
    ASSERT_FALSE(input_.empty());
    vidrel_.SetOnTerminate([this](engine::TCustomVidrel&, const TTerminateInfo& info) { log_.Record(info); });
  }

  // Adds `count` tasks, each with one output.
  void AddTasks(int count) {
    for (int i = 0; i < count; ++i) {
      const int index = vidrel_.AddTask(input_.string());
      ASSERT_EQ(index, i) << vidrel_.LastErrorText();
      ASSERT_TRUE(vidrel_.SetOutputFile(index, (folder_ / ("out" + std::to_string(i) + ".mkv")).string()))
          << vidrel_.LastErrorText();
    }
  }

  bool AllDone() const { return log_.CountOf(-1) > 0; }

  // Declared before the engine: its destructor still delivers terminations.
  Workload workload_;
  TerminateLog log_;
  ScriptedVidrel vidrel_{workload_};
  std::filesystem::path folder_;
  std::filesystem::path input_;
};

TEST_F(VidrelLifecycle, OneAtATimeRunsTasksInTurnOnWorkerThreads) {
  AddTasks(3);
  vidrel_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return workload_.started == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(workload_.started, 1) << "only one task may run at a time";
  workload_.may_finish = true;
  ASSERT_TRUE(WaitServing([&] { return AllDone() && log_.Infos().size() == 4; }));

  EXPECT_EQ(workload_.most_running, 1);
  for (int index = 0; index < 3; ++index) {
    EXPECT_EQ(log_.CountOf(index), 1) << "task " << index;
  }
  EXPECT_EQ(log_.CountOf(-1), 1);
  for (const TTerminateInfo& info : log_.Infos()) {
    EXPECT_TRUE(info.Finished) << info.TaskIndex;
    EXPECT_FALSE(info.ExceptionRaised) << info.ExceptionMessage;
  }
  for (std::thread::id thread : log_.Threads())
    EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(VidrelLifecycle, CountAboveTaskNumberRunsAllAtOnce) {
  AddTasks(3);
  vidrel_.StartTask(5);
  ASSERT_TRUE(WaitServing([&] { return workload_.running == 3; }));
  workload_.may_finish = true;
  ASSERT_TRUE(WaitServing([&] { return log_.Infos().size() == 4; }));
  EXPECT_EQ(workload_.most_running, 3);
  EXPECT_EQ(log_.CountOf(-1), 1);
}

TEST_F(VidrelLifecycle, ThreeAtATimeOverFiveEndWithOneAllDoneEachRound) {
  // The first round holds the tasks until three run; the later ones end them as fast as they start, so
  // that terminations meet in every order, each starting the next task.
  constexpr int kRounds = 15;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t before = log_.Infos().size();
    const int all_done_before = log_.CountOf(-1);
    workload_.started = 0;
    AddTasks(5);
    vidrel_.StartTask(3);
    if (round == 0) {
      ASSERT_TRUE(WaitServing([&] { return workload_.running == 3; }));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      EXPECT_EQ(workload_.started, 3) << "no more than three may run";
      workload_.may_finish = true;
    }
    ASSERT_TRUE(WaitServing([&] { return log_.Infos().size() == before + 6; }));
    std::this_thread::sleep_for(
        std::chrono::milliseconds(20));  // a second all-done would be late, not absent
    const auto infos = log_.Infos();
    ASSERT_EQ(infos.size(), before + 6);
    std::map<int, int> per_index;
    for (std::size_t at = before; at < infos.size(); ++at) {
      per_index[infos[at].TaskIndex]++;
      EXPECT_TRUE(infos[at].Finished) << infos[at].TaskIndex;
      EXPECT_FALSE(infos[at].ExceptionRaised) << infos[at].ExceptionMessage;
    }
    EXPECT_EQ(per_index, (std::map<int, int>{{-1, 1}, {0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}}));
    EXPECT_EQ(log_.CountOf(-1), all_done_before + 1);
    EXPECT_EQ(workload_.started, 5);
    vidrel_.ClearTasks();
  }
  EXPECT_EQ(workload_.most_running, 3);
}

TEST_F(VidrelLifecycle, SynchronousRunReturnsAfterAllDoneOnTheCallingThread) {
  AddTasks(3);
  workload_.may_finish = true;
  vidrel_.StartTask(0);

  const auto infos = log_.Infos();
  ASSERT_EQ(infos.size(), 4U);
  for (int index = 0; index < 3; ++index)
    EXPECT_EQ(infos[static_cast<std::size_t>(index)].TaskIndex, index);
  EXPECT_EQ(infos.back().TaskIndex, -1);
  for (std::thread::id thread : log_.Threads())
    EXPECT_EQ(thread, std::this_thread::get_id());
}

TEST_F(VidrelLifecycle, StopWhileOneRunsAndTwoWait) {
  AddTasks(3);
  vidrel_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return workload_.running == 1; }));

  vidrel_.StopTask(true);
  // Waiting stops return once every task has terminated; the notifications themselves run on threads of
  // their own.
  ASSERT_TRUE(WaitServing([&] { return log_.Infos().size() == 4; }));
  EXPECT_EQ(workload_.started, 1) << "the waiting tasks must not run";
  for (const TTerminateInfo& info : log_.Infos()) {
    if (info.TaskIndex == -1) continue;
    EXPECT_FALSE(info.Finished) << info.TaskIndex;
    EXPECT_FALSE(info.ExceptionRaised) << info.TaskIndex;
  }
  EXPECT_EQ(log_.CountOf(0), 1);
  EXPECT_EQ(log_.CountOf(1), 1);
  EXPECT_EQ(log_.CountOf(2), 1);
  EXPECT_EQ(log_.CountOf(-1), 1);
  for (int index = 0; index < 3; ++index)
    EXPECT_TRUE(vidrel_.Task(index).Terminated());
}

TEST_F(VidrelLifecycle, PausedTaskMakesNoProgressAndRaisesNothing) {
  std::atomic<int> progress_events{0};
  vidrel_.SetTriggerEventInMainThread(false);
  vidrel_.SetOnProgress([&](engine::TCustomVidrel&, engine::PProgressInfo) { progress_events++; });
  AddTasks(1);
  vidrel_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return workload_.slices > 3; }));

  vidrel_.PauseTask();
  // The slice under way when the pause came may still end, with its progress event; none after it, however
  // long the machine takes to get to the worker. A running task makes hundreds of slices in the wait.
  const long slices = workload_.slices;
  const int events = progress_events;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LE(workload_.slices, slices + 1);
  EXPECT_LE(progress_events, events + 1);
  EXPECT_TRUE(log_.Infos().empty());

  vidrel_.ResumeTask();
  ASSERT_TRUE(WaitServing([&] { return workload_.slices > slices + 3; }));

  // A stop reaches a paused task too.
  vidrel_.PauseTask();
  vidrel_.StopTask(true);
  ASSERT_TRUE(WaitServing([&] { return AllDone(); }));
  EXPECT_FALSE(vidrel_.Task(0).Finished());
}

TEST_F(VidrelLifecycle, ChangesAreRefusedWhileWorkingUntilCleared) {
  AddTasks(1);
  vidrel_.StartTask(1);
  const auto refused = [&](const std::function<void()>& call, const char* text) {
    try {
      call();
      ADD_FAILURE() << "not refused: " << text;
    } catch (const engine::EngineStateError& error) {
      EXPECT_STREQ(error.what(), text);
    }
  };
  refused([&] { vidrel_.ClearTasks(); }, "Cannot ClearTasks while working.");
  refused([&] { vidrel_.AddTask(input_.string()); }, "Cannot AddTask while working.");
  refused([&] { vidrel_.SetOutputFile(0, (folder_ / "x").string()); }, "Cannot SetOutputFile while working.");
  refused([&] { vidrel_.StartTask(1); }, "Cannot StartTask while working.");

  workload_.may_finish = true;
  ASSERT_TRUE(WaitServing([&] { return AllDone(); }));
  refused([&] { vidrel_.AddTask(input_.string()); }, "Cannot AddTask while working.");

  vidrel_.ClearTasks();
  EXPECT_EQ(vidrel_.TaskCount(), 0);
  EXPECT_EQ(vidrel_.AddTask(input_.string()), 0);
}

TEST_F(VidrelLifecycle, WaitingStopServesProgressQueuedForTheMainThread) {
  std::atomic<int> on_main{0};
  std::atomic<int> elsewhere{0};
  vidrel_.SetOnProgress([&](engine::TCustomVidrel&, engine::PProgressInfo info) {
    (runtime::IsMainThread() ? on_main : elsewhere)++;
    EXPECT_EQ(info->TaskIndex, 0);
  });
  AddTasks(1);
  vidrel_.StartTask(1);
  // The worker now blocks in every progress event until the main thread serves it.
  ASSERT_TRUE(WaitServing([&] { return on_main > 2; }));
  vidrel_.StopTask(true);  // must keep serving, or the worker never sees the stop
  EXPECT_TRUE(vidrel_.Task(0).Terminated());
  EXPECT_EQ(elsewhere, 0);
  ASSERT_TRUE(WaitServing([&] { return AllDone(); }));
}

TEST_F(VidrelLifecycle, StartWithNothingToRunDeliversAllDone) {
  vidrel_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return AllDone(); }));
  vidrel_.ClearTasks();
}

TEST_F(VidrelLifecycle, TaskWithoutOutputEndsWithItsReason) {
  ASSERT_EQ(vidrel_.AddTask(input_.string()), 0);
  vidrel_.StartTask(0);
  const auto infos = log_.Infos();
  ASSERT_EQ(infos.size(), 2U);
  EXPECT_TRUE(infos[0].ExceptionRaised);
  EXPECT_FALSE(infos[0].Finished);
  EXPECT_EQ(infos[0].ExceptionMessage, "At least one output file must be specified");
  EXPECT_EQ(workload_.started, 0);
}

TEST_F(VidrelLifecycle, EmptyOutputIsDeletedAndWrittenOutputKept) {
  AddTasks(2);
  workload_.may_finish = true;
  vidrel_.StartTask(0);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "out0.mkv"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "out1.mkv"));

  vidrel_.ClearTasks();
  workload_.write_output = true;
  AddTasks(1);
  vidrel_.StartTask(0);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "out0.mkv"));
}

TEST_F(VidrelLifecycle, AddTaskReportsAnUnopenableInput) {
  engine::TInputOptions options;
  engine::InitInputOptions(options);
  const std::string missing = (folder_ / "missing.avi").string();
  EXPECT_EQ(vidrel_.AddTask(missing, &options), -1);
  EXPECT_EQ(vidrel_.LastErrorText(), missing + ": no such file or directory");
  EXPECT_EQ(options.FileName, missing) << "an empty FileName receives the argument";
  EXPECT_EQ(vidrel_.TaskCount(), 0);
  EXPECT_EQ(vidrel_.AddTask(folder_.string()), -1) << "a directory is no input";
}

TEST_F(VidrelLifecycle, OutputLimitsAndIndexes) {
  AddTasks(1);
  for (int i = 1; i < engine::TCustomVidrel::kMaxOutputFiles; ++i) {
    ASSERT_TRUE(vidrel_.SetOutputFile(0, (folder_ / ("more" + std::to_string(i) + ".mkv")).string()));
  }
  EXPECT_FALSE(vidrel_.SetOutputFile(0, (folder_ / "one-too-many.mkv").string()));
  EXPECT_EQ(vidrel_.LastErrorText(), "max output files 20 reached");
  EXPECT_THROW(vidrel_.SetOutputFile(1, (folder_ / "x").string()), std::out_of_range);
}

TEST_F(VidrelLifecycle, OutputThatIsTheInputIsRefusedAndTheInputKept) {
  const std::filesystem::path input = folder_ / "input.mp4";
  std::filesystem::copy_file(input_, input);
  const auto size = std::filesystem::file_size(input);
  ASSERT_EQ(vidrel_.AddTask(input.string()), 0);
  std::filesystem::create_directories(folder_ / "sub");
  // The same file through another spelling of its path.
  const std::string other_spelling = (folder_ / "sub" / ".." / "input.mp4").string();
  EXPECT_FALSE(vidrel_.SetOutputFile(0, other_spelling));
  EXPECT_NE(vidrel_.LastErrorText().find("is the same file as input"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(input), size);
  EXPECT_TRUE(media_test::DecodesCleanly(input));
}

TEST(VidrelProperties, ProgressIntervalHasAFloorOf100) {
  engine::TVidrel vidrel;
  vidrel.SetProgressInterval(50);
  EXPECT_EQ(vidrel.ProgressInterval(), 100);
  vidrel.SetProgressInterval(101);
  EXPECT_EQ(vidrel.ProgressInterval(), 101);
  EXPECT_EQ(vidrel.Version(), "3.1");
}

}  // namespace
}  // namespace engine_test
