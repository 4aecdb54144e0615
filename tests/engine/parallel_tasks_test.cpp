// Several tasks that really convert at a time (StartTask with a count above 1): failing tasks among
// converting ones, and a stop that reaches the running and the waiting ones.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine_test_support.h"
#include "support/thread_count.h"
#include "support/media_fixtures.h"

namespace engine_test {
namespace {

using engine::TTerminateInfo;

using test_threads::LiveThreads;

// Tasks that really convert: the component without a scripted task.
class ParallelConversions : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::BindMainThread();
    ASSERT_TRUE(vidrel_.LoadMediaLibraries(runtime::ProgramFolder())) << vidrel_.LastErrorText();
    folder_ = TestFolder();
    input_ = media_test::H264AacMp4();
    ASSERT_FALSE(input_.empty());
    vidrel_.SetProgressInterval(100);
    vidrel_.SetTriggerEventInMainThread(false);
    vidrel_.SetOnProgress([this](engine::TCustomVidrel&, engine::PProgressInfo info) {
      std::lock_guard lock(reports_mutex_);
      reports_.emplace_back(info->TaskIndex, info->FileIndex < 0);
    });
    vidrel_.SetOnTerminate([this](engine::TCustomVidrel&, const TTerminateInfo& info) { log_.Record(info); });
  }

  // The input read at its own pace ("re"), so that each task lasts as long as its media.
  int AddPacedTask() {
    engine::TInputOptions input;
    engine::InitInputOptions(input);
    input.ExtOptions = "re=1";
    return vidrel_.AddTask(input_.string(), &input);
  }

  bool SetOutput(int task, const std::string& name, const std::string& ext_options) {
    engine::TOutputOptions output;
    engine::InitOutputOptions(output);
    output.ExtOptions = ext_options;
    outputs_.push_back(std::make_unique<engine::TOutputOptions>(output));
    return vidrel_.SetOutputFile(task, (folder_ / name).string(), outputs_.back().get());
  }

  // Two tasks ran at the same time when each reported progress before the other's final report.
  bool RanTogether(int first, int second) const {
    std::lock_guard lock(reports_mutex_);
    const auto position = [this](int task, bool final_report) {
      for (std::size_t at = 0; at < reports_.size(); ++at) {
        if (reports_[at].first == task && reports_[at].second == final_report) return static_cast<long>(at);
      }
      return -1L;
    };
    const long first_start = position(first, false), first_end = position(first, true);
    const long second_start = position(second, false), second_end = position(second, true);
    if (first_start < 0 || second_start < 0 || first_end < 0 || second_end < 0) return false;
    return first_start < second_end && second_start < first_end;
  }

  bool AllDone() const { return log_.CountOf(-1) > 0; }

  std::vector<std::unique_ptr<engine::TOutputOptions>> outputs_;  // live as long as their tasks
  mutable std::mutex reports_mutex_;
  std::vector<std::pair<int, bool>> reports_;  // task index, final report; in the order raised
  TerminateLog log_;
  engine::TVidrel vidrel_;
  std::filesystem::path folder_;
  std::filesystem::path input_;
};

TEST_F(ParallelConversions, FailingTasksAmongSeveralLeaveTheOthersToFinish) {
  // Tasks 0, 2 and 4 convert; 1 fails when its encoder opens (MP2 has no nine-channel layout); 3 has no
  // output and ends as soon as its turn comes.
  const std::string good = "t=1.5\nvcodec=mpeg4\nacodec=mp2";
  for (int task = 0; task < 5; ++task) {
    ASSERT_EQ(AddPacedTask(), task) << vidrel_.LastErrorText();
    if (task == 1) {
      ASSERT_TRUE(SetOutput(task, "out1.avi", good + "\nac=9")) << vidrel_.LastErrorText();
    } else if (task != 3) {
      ASSERT_TRUE(SetOutput(task, "out" + std::to_string(task) + ".avi", good)) << vidrel_.LastErrorText();
    }
  }
  vidrel_.StartTask(3);
  ASSERT_TRUE(WaitServing([&] { return log_.Infos().size() == 6; }, std::chrono::seconds(60)));

  std::map<int, TTerminateInfo> outcome;
  for (const TTerminateInfo& info : log_.Infos())
    outcome[info.TaskIndex] = info;
  EXPECT_EQ(log_.CountOf(-1), 1);
  EXPECT_TRUE(outcome[1].ExceptionRaised);
  EXPECT_EQ(outcome[1].ExceptionMessage.rfind("Error while opening encoder for output stream #0.1", 0), 0U)
      << outcome[1].ExceptionMessage;
  EXPECT_TRUE(outcome[3].ExceptionRaised);
  EXPECT_EQ(outcome[3].ExceptionMessage, "At least one output file must be specified");
  for (const int task : {0, 2, 4}) {
    SCOPED_TRACE("task " + std::to_string(task));
    EXPECT_TRUE(outcome[task].Finished);
    EXPECT_FALSE(outcome[task].ExceptionRaised) << outcome[task].ExceptionMessage;
    const std::filesystem::path output = folder_ / ("out" + std::to_string(task) + ".avi");
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "codec_name"), "mpeg4");
    EXPECT_EQ(media_test::StreamEntry(output, "a:0", "codec_name"), "mp2");
    EXPECT_TRUE(media_test::DecodesCleanly(output));
  }
  // Three at a time: the first converting tasks overlapped, and the last one ran beside one of them.
  EXPECT_TRUE(RanTogether(0, 2));
  EXPECT_TRUE(RanTogether(0, 4) || RanTogether(2, 4));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "out1.avi")) << "the failed task's empty output is removed";
  vidrel_.ClearTasks();
}

TEST_F(ParallelConversions, StopEndsTheRunningTasksWithWholeOutputsAndTheWaitingOnesUnrun) {
  for (int task = 0; task < 4; ++task) {
    ASSERT_EQ(AddPacedTask(), task) << vidrel_.LastErrorText();
    ASSERT_TRUE(SetOutput(task, "out" + std::to_string(task) + ".mkv", "vcodec=mpeg4\nacodec=mp2"));
  }
  // ThreadSanitizer starts a thread of its own along with the process's first further thread: let that
  // happen before counting.
  std::thread([] {}).join();
  const int threads_before = LiveThreads();
  vidrel_.StartTask(2);
  // Both running tasks have reported progress.
  ASSERT_TRUE(WaitServing(
      [&] {
        std::lock_guard lock(reports_mutex_);
        std::set<int> reporting;
        for (const auto& report : reports_)
          reporting.insert(report.first);
        return reporting == std::set<int>{0, 1};
      },
      std::chrono::seconds(60)));
  vidrel_.StopTask(true);
  for (int task = 0; task < 4; ++task)
    EXPECT_TRUE(vidrel_.Task(task).Terminated()) << task;
  ASSERT_TRUE(WaitServing([&] { return log_.Infos().size() == 5; }));
  EXPECT_EQ(log_.CountOf(-1), 1);
  for (const TTerminateInfo& info : log_.Infos()) {
    if (info.TaskIndex < 0) continue;
    EXPECT_FALSE(info.Finished) << info.TaskIndex;
    EXPECT_FALSE(info.ExceptionRaised) << info.TaskIndex << ": " << info.ExceptionMessage;
  }
  vidrel_.ClearTasks();

  // The stopped outputs were closed properly; the waiting tasks wrote nothing and leave no file.
  for (const int task : {0, 1}) {
    const std::filesystem::path output = folder_ / ("out" + std::to_string(task) + ".mkv");
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "codec_name"), "mpeg4") << task;
    EXPECT_TRUE(media_test::DecodesCleanly(output)) << task;
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "out2.mkv"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "out3.mkv"));
  // Workers, codec threads and the threads that delivered the terminations are all gone.
  EXPECT_TRUE(WaitServing([&] { return LiveThreads() <= threads_before; }, std::chrono::seconds(5)))
      << LiveThreads() << " threads against " << threads_before << " before the start";
}

}  // namespace
}  // namespace engine_test
