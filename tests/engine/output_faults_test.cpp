// What a task leaves at its output name when the run goes wrong: a failed run removes the file it created
// (its trailer is missing), a stopped run keeps its output closed with its trailer, a file that was there
// before is never removed, and an output that is the input under another name is refused before it is
// truncated. Every case runs in both schedules.
#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "conversion_runner.h"
#include "engine_test_support.h"
#include "runtime/program_folder.h"
#include "support/media_fixtures.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using test_files::TestFolder;

fs::path FourSeconds() {
  return media_test::Fixture(
      "output_faults_4s.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i sine=frequency=440:duration=4 "
      "-ac 2 -c:v libx264 -preset ultrafast -g 25 -c:a aac -b:a 96k -shortest");
}

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string Scheduled(const std::string& options, bool pipelined) {
  return options + (pipelined ? "" : "\npipeline=0");
}

class OutputFaults : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Schedules, OutputFaults, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Pipelined" : "OneThread";
                         });

TEST_P(OutputFaults, AFailedRunRemovesTheOutputItCreatedButNeverAFileThatWasThere) {
  const fs::path input = FourSeconds();
  ASSERT_FALSE(input.empty());
  const fs::path folder = TestFolder();
  const std::string options = Scheduled("f=avi\nvcodec=mpeg4\nacodec=mp2", GetParam());

  engine_test::FailingVideoVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  const fs::path created = folder / "created.avi";
  engine_test::ConversionResult result = engine_test::RunConversion(vidrel, input, created, "", options);
  EXPECT_TRUE(result.ExceptionRaised);
  EXPECT_EQ(result.ErrorText, "Video encoding failed");
  EXPECT_FALSE(fs::exists(fs::symlink_status(created))) << "the incomplete output is still there";

  // Overwritten, so no longer what it was, but a file of the user's: it stays.
  vidrel.ClearTasks();
  const fs::path existing = test_files::MakeFile(folder / "existing.avi", "the user's own file");
  result = engine_test::RunConversion(vidrel, input, existing, "", options);
  EXPECT_TRUE(result.ExceptionRaised);
  EXPECT_TRUE(fs::is_regular_file(existing));

  vidrel.ClearTasks();
  // A name that is a link: the link stays, and so does what it points to.
  const fs::path target = test_files::MakeFile(folder / "target.avi", "");
  const fs::path link = folder / "link.avi";
  fs::create_symlink(target, link);
  result = engine_test::RunConversion(vidrel, input, link, "", options);
  EXPECT_TRUE(result.ExceptionRaised);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_regular_file(target));
}

TEST_P(OutputFaults, AStoppedRunKeepsItsOutputWithItsTrailer) {
  const fs::path input = FourSeconds();
  ASSERT_FALSE(input.empty());
  const fs::path output = TestFolder() / "stopped.mp4";
  // The task's termination and the all-done one come on threads of their own, in no fixed order; what they
  // write outlives the component, which waits for them as it goes.
  std::atomic<bool> ended{false};
  std::atomic<bool> task_ended{false};
  std::atomic<bool> failed{true};
  bool stop_asked = false;
  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  vidrel.SetProgressInterval(50);
  // The first progress report asks the run to stop: it has written some of the file by then.
  vidrel.SetOnProgress([&](engine::TCustomVidrel& component, engine::PProgressInfo info) {
    if (!stop_asked && info->CurrentDuration > 0) {
      stop_asked = true;
      component.StopTask(false);
    }
  });
  engine::TInputOptions in;
  engine::InitInputOptions(in);
  in.ExtOptions = "re";  // read at the pace of the clip, so that the stop comes before the end
  const int index = vidrel.AddTask(input.string(), &in);
  ASSERT_GE(index, 0) << vidrel.LastErrorText();
  engine::TOutputOptions out;
  engine::InitOutputOptions(out);
  out.ExtOptions = Scheduled("vcodec=mpeg4\nacodec=aac", GetParam());
  ASSERT_TRUE(vidrel.SetOutputFile(index, output.string(), &out)) << vidrel.LastErrorText();
  vidrel.SetOnTerminate([&](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      ended = true;
      return;
    }
    failed = info.ExceptionRaised;
    task_ended = true;
  });
  vidrel.StartTask(1);
  ASSERT_TRUE(engine_test::WaitServing([&] { return ended && task_ended; }, std::chrono::seconds(60)));
  EXPECT_TRUE(stop_asked);
  EXPECT_FALSE(failed);
  ASSERT_TRUE(fs::exists(output));
  EXPECT_TRUE(media_test::DecodesCleanly(output)) << "the stopped output has no trailer";
}

// The output is the input itself under another name: refused before anything is written, the input intact.
TEST_P(OutputFaults, AnOutputThatIsTheInputThroughALinkIsRefusedBeforeItIsTruncated) {
  const fs::path folder = TestFolder();
  const fs::path input = folder / "input.mp4";
  fs::copy_file(FourSeconds(), input);
  const std::string before = Contents(input);
  ASSERT_FALSE(before.empty());
  fs::create_hard_link(input, folder / "hard.mp4");
  fs::create_symlink(input, folder / "soft.mp4");
  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  for (const char* name : {"input.mp4", "hard.mp4", "soft.mp4"}) {
    const engine_test::ConversionResult result = engine_test::RunConversion(
        vidrel, input, folder / name, "", Scheduled("vcodec=copy\nacodec=copy", GetParam()));
    EXPECT_FALSE(result.OutputSet) << name;
    EXPECT_NE(result.ErrorText.find("is the same file as input"), std::string::npos) << result.ErrorText;
    vidrel.ClearTasks();
  }
  EXPECT_EQ(Contents(input), before);
  EXPECT_TRUE(fs::is_symlink(folder / "soft.mp4"));
}

}  // namespace
