// The pipelined run against the one-thread run ("pipeline=0") of the same job: every output stream gets the
// same packets, checksum for checksum as the ffmpeg tool's framemd5 lists them, over the deterministic
// encoders of the catalogue and the frame-rate, drift and start settings; jobs with limits keep the
// one-thread schedule. Errors of the writer end both runs alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <set>
#include <sstream>
#include <string>

#include "conversion_runner.h"
#include "engine/ffmpeg_exception.h"
#include "engine_test_support.h"
#include "support/media_fixtures.h"
#include "support/thread_count.h"

namespace {

using engine_test::TestFolder;

struct Job {
  const char* Name;
  const char* Extension;
  const char* Options;
  bool Pipelined;  // the default run takes the pipelined schedule
};

// The packets of every stream: "stream, dts, pts, duration, size, checksum" lines.
std::string PacketChecksums(const std::filesystem::path& file) {
  const media_test::CommandResult listed = media_test::RunCommand(
      "ffmpeg -nostdin -v error -i " + media_test::Quoted(file) + " -map 0 -c copy -f framemd5 - 2>&1");
  if (listed.Status != 0) return "ffmpeg failed: " + listed.Output;
  std::string packets;
  std::size_t start = 0;
  while (start < listed.Output.size()) {
    std::size_t end = listed.Output.find('\n', start);
    if (end == std::string::npos) end = listed.Output.size();
    const std::string line = listed.Output.substr(start, end - start);
    if (!line.empty() && line[0] != '#') packets += line + "\n";
    start = end + 1;
  }
  return packets;
}

std::size_t StreamsListed(const std::string& packets) {
  std::set<std::string> streams;
  std::istringstream lines(packets);
  for (std::string line; std::getline(lines, line);)
    streams.insert(line.substr(0, line.find(',')));
  return streams.size();
}

void PrintTo(const Job& job, std::ostream* out) {
  *out << job.Name;
}

class PipelineEquality : public testing::TestWithParam<Job> {};

TEST_P(PipelineEquality, WritesTheSamePacketsAsTheOneThreadRun) {
  const Job& job = GetParam();
  const bool audio_only = std::string(job.Options).find("vn=1") != std::string::npos;
  const std::filesystem::path one_thread = TestFolder() / (std::string(job.Name) + "_one." + job.Extension);
  const std::filesystem::path pipelined = TestFolder() / (std::string(job.Name) + "_pipe." + job.Extension);
  std::string schedule;
  for (const bool pipeline : {false, true}) {
    engine::TVidrel vidrel;
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    const engine_test::LogCapture log(runtime::llVerbose);
    const engine_test::ConversionResult result =
        engine_test::RunConversion(vidrel, media_test::H264AacMp4(), pipeline ? pipelined : one_thread, "",
                                   std::string(job.Options) + (pipeline ? "" : "\npipeline=0"));
    ASSERT_TRUE(result.Finished) << job.Name << ": " << result.ErrorText;
    if (pipeline) schedule = log.Lines();
  }
  EXPECT_NE(schedule.find(job.Pipelined ? "pipelined run" : "one-thread run"), std::string::npos) << schedule;
  const std::string expected = PacketChecksums(one_thread);
  ASSERT_EQ(StreamsListed(expected), audio_only ? 1U : 2U) << expected;
  EXPECT_EQ(PacketChecksums(pipelined), expected);
  const media_test::CommandResult decoded = media_test::RunCommand(
      "ffmpeg -nostdin -v error -i " + media_test::Quoted(pipelined) + " -f null - 2>&1");
  EXPECT_EQ(decoded.Status, 0) << decoded.Output;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PipelineEquality,
    testing::Values(Job{"Mpeg4Aac", "mp4", "vcodec=mpeg4\nb=400000\nacodec=aac\nab=96000", true},
                    Job{"MsMpeg4Mp3", "avi", "vcodec=msmpeg4\nacodec=libmp3lame\nab=128000", true},
                    Job{"Wmv2Wmav2", "wmv", "vcodec=wmv2\nacodec=wmav2", true},
                    Job{"FlvMp3", "flv", "vcodec=flv\nacodec=libmp3lame\nar=44100", true},
                    Job{"H263AmrNb", "3gp",
                        "vcodec=h263\ns=176x144\nacodec=libopencore_amrnb\nar=8000\nac=1\nab=12200", true},
                    Job{"Mpeg1Mp2", "mpg", "vcodec=mpeg1video\nacodec=mp2", true},
                    Job{"Mpeg2Ac3", "mpg", "vcodec=mpeg2video\nacodec=ac3", true},
                    Job{"X264Aac", "mp4", "vcodec=libx264\nthreads=1\nacodec=aac", true},
                    Job{"VorbisOnly", "ogg", "vn=1\nacodec=libvorbis", true},
                    Job{"PcmOnly", "wav", "vn=1\nacodec=pcm_s16le", true},
                    Job{"FrameRateUpDuplicates", "avi", "vcodec=mpeg4\nr=50\nacodec=mp2", true},
                    Job{"FrameRateDownDrops", "avi", "vcodec=mpeg4\nr=10\nacodec=mp2", true},
                    Job{"AudioDrift", "avi", "vcodec=mpeg4\nacodec=mp2\nasync=100", true},
                    Job{"StartLater", "mp4", "vcodec=mpeg4\nacodec=aac\nss=1", true},
                    Job{"TimeLimit", "mp4", "vcodec=mpeg4\nacodec=aac\nt=1.5", false},
                    Job{"FrameLimit", "avi", "vcodec=mpeg4\nacodec=mp2\nvframes=30", false},
                    Job{"SizeLimit", "avi", "vcodec=mpeg4\nacodec=mp2\nfs=150000", false}),
    [](const testing::TestParamInfo<Job>& job) { return std::string(job.param.Name); });

// Two passes, and a picture hook with deinterlacing and preview bitmaps on the way: both schedules write the
// same statistics, the same packets, and the pipelined one shows its previews.
TEST(PipelineEqualityMore, TwoPassesAndHooksWriteTheSameAsTheOneThreadRun) {
  const std::filesystem::path folder = TestFolder();
  std::string pass_logs[2];
  std::string second_pass[2];
  std::string hooked[2];
  int previews[2] = {0, 0};
  for (const bool pipeline : {false, true}) {
    const std::string schedule = pipeline ? "" : "\npipeline=0";
    const std::string name = pipeline ? "pipe" : "one";
    const std::string log = (folder / ("stats_" + name)).string();
    {
      engine::TVidrel vidrel;
      ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
      for (const int pass : {1, 2}) {
        const std::filesystem::path out = folder / ("pass" + std::to_string(pass) + "_" + name + ".avi");
        const auto result =
            engine_test::RunConversion(vidrel, media_test::H264AacMp4(), out, "",
                                       "vcodec=mpeg4\nb=300000\nacodec=mp2\npass=" + std::to_string(pass) +
                                           "\npasslogfile=" + log + schedule);
        ASSERT_TRUE(result.Finished) << result.ErrorText;
        vidrel.ClearTasks();
        if (pass == 2) second_pass[pipeline] = PacketChecksums(out);
      }
      std::ostringstream stats;
      stats << std::ifstream(log + "-0.log").rdbuf();
      pass_logs[pipeline] = stats.str();
    }
    engine::TVidrel vidrel;
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    vidrel.SetOnCustomHook([](engine::TCustomVidrel&, engine::PHookInfo hook) {
      runtime::Bitmap& bitmap = *hook->Bitmap;
      for (int y = 0; y < 16 && y < bitmap.Height(); ++y)
        std::memset(bitmap.ScanLine(y), 255, static_cast<std::size_t>(std::min(16, bitmap.Width())) * 3);
    });
    vidrel.SetPreviewBitmap(true);
    vidrel.SetOnPreviewBitmap(
        [&previews, pipeline](engine::TCustomVidrel&, const engine::TPreviewInfo& info) {
          if (info.Bitmap != nullptr && info.Bitmap->Width() > 0) ++previews[pipeline];
        });
    const std::filesystem::path out = folder / ("hooked_" + name + ".avi");
    const auto result = engine_test::RunConversion(vidrel, media_test::H264AacMp4(), out, "",
                                                   "vcodec=mpeg4\nacodec=mp2\ndeinterlace=1" + schedule);
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    hooked[pipeline] = PacketChecksums(out);
  }
  EXPECT_FALSE(pass_logs[0].empty());
  EXPECT_EQ(pass_logs[1], pass_logs[0]);
  EXPECT_EQ(StreamsListed(second_pass[0]), 2U) << second_pass[0];
  EXPECT_EQ(second_pass[1], second_pass[0]);
  EXPECT_EQ(StreamsListed(hooked[0]), 2U) << hooked[0];
  EXPECT_EQ(hooked[1], hooked[0]);
  EXPECT_GT(previews[1], 0);
}

// A file long enough to pause and stop in: 10 s of 320x240 H.264 with stereo AAC.
std::filesystem::path TenSeconds() {
  return media_test::Fixture(
      "pipeline_10s.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=10 -f lavfi -i sine=frequency=440:duration=10 "
      "-ac 2 -c:v libx264 -preset ultrafast -g 25 -c:a aac -b:a 96k -shortest");
}

using test_threads::LiveThreads;

// The video path slowed down, so that the queues before it fill and the reader waits for room; and so that
// the 250 pictures take 10 s at the least, which no busy machine makes shorter than the test's waits.
class SlowVideoTask : public engine::TFFmpeg {
 protected:
  void VideoOutput(engine::TOutputStreamState& ost, engine::TInputStreamState& ist, AVFrame* frame) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    engine::TFFmpeg::VideoOutput(ost, ist, frame);
  }
};

class SlowVideoVidrel : public engine::TVidrel {
 protected:
  std::unique_ptr<engine::TFFmpeg> CreateTask() override { return std::make_unique<SlowVideoTask>(); }
};

std::uintmax_t SizeOf(const std::filesystem::path& file) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  return error ? 0 : size;
}

class PipelineControl : public testing::TestWithParam<bool> {};

// Pause holds the reader, every stage and the writer; Stop reaches them through full queues and the output
// keeps its trailer.
TEST_P(PipelineControl, PauseHoldsEveryStageAndStopEndsTheRunWithAPlayableOutput) {
  const bool pipelined = GetParam();
  const std::filesystem::path output = TestFolder() / (pipelined ? "stopped_pipe.avi" : "stopped_one.avi");
  const std::filesystem::path input = TenSeconds();
  const int threads = LiveThreads();
  {
    // The task's termination and the all-done one come on threads of their own, in no fixed order; what
    // they write outlives the component, which waits for them as it goes.
    std::mutex mutex;
    bool ended = false;
    bool task_ended = false;
    bool finished = true;
    bool failed = true;
    std::atomic<int> progress{0};  // the handler may run on the task's thread
    SlowVideoVidrel vidrel;
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    vidrel.SetProgressInterval(100);
    vidrel.SetOnProgress([&](engine::TCustomVidrel&, engine::PProgressInfo) { ++progress; });
    vidrel.SetOnTerminate([&](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
      std::lock_guard lock(mutex);
      if (info.TaskIndex < 0) {
        ended = true;
        return;
      }
      task_ended = true;
      finished = info.Finished;
      failed = info.ExceptionRaised;
    });
    engine::TInputOptions in;
    engine::InitInputOptions(in);
    const int index = vidrel.AddTask(input.string(), &in);
    ASSERT_GE(index, 0) << vidrel.LastErrorText();
    engine::TOutputOptions out;
    engine::InitOutputOptions(out);
    out.ExtOptions = std::string("vcodec=mpeg4\nacodec=mp2") + (pipelined ? "" : "\npipeline=0");
    ASSERT_TRUE(vidrel.SetOutputFile(index, output.string(), &out)) << vidrel.LastErrorText();
    vidrel.StartTask(1);
    ASSERT_TRUE(engine_test::WaitServing([&] { return progress >= 3 && SizeOf(output) > 0; }));

    vidrel.PauseTask();
    engine_test::WaitServing([] { return false; }, std::chrono::milliseconds(600));  // the queued work ends
    const std::uintmax_t paused_size = SizeOf(output);
    engine_test::WaitServing([] { return false; }, std::chrono::milliseconds(600));
    EXPECT_EQ(SizeOf(output), paused_size) << "the output grew while paused";

    // Resumed, the run reports again (the file itself grows only when the writer's buffer fills), and is
    // stopped long before its end.
    const int reported = progress;
    vidrel.ResumeTask();
    EXPECT_TRUE(engine_test::WaitServing([&] { return progress >= reported + 2; }));
    vidrel.StopTask(false);
    ASSERT_TRUE(engine_test::WaitServing(
        [&] {
          std::lock_guard lock(mutex);
          return ended && task_ended;
        },
        std::chrono::seconds(10)));
    EXPECT_FALSE(finished);
    EXPECT_FALSE(failed);
  }
  const media_test::CommandResult decoded =
      media_test::RunCommand("ffmpeg -nostdin -v error -i " + media_test::Quoted(output) + " -f null - 2>&1");
  EXPECT_EQ(decoded.Status, 0) << decoded.Output;
  EXPECT_TRUE(decoded.Output.empty()) << decoded.Output;
  EXPECT_TRUE(engine_test::WaitServing([&] { return LiveThreads() <= threads; }, std::chrono::seconds(5)))
      << LiveThreads() << " threads, " << threads << " before";
}

// A full disk under the writer: both schedules end the run with the same failure.
TEST_P(PipelineControl, AWriteErrorEndsTheRunWithItsReason) {
  const bool pipelined = GetParam();
  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  const engine_test::ConversionResult result = engine_test::RunConversion(
      vidrel, TenSeconds(), "/dev/full", "",
      std::string("f=avi\nvcodec=mpeg4\nacodec=mp2") + (pipelined ? "" : "\npipeline=0"));
  EXPECT_TRUE(result.Terminated);
  EXPECT_FALSE(result.Finished);
  EXPECT_TRUE(result.ExceptionRaised);
  EXPECT_NE(result.ErrorText.find("No space left on device"), std::string::npos) << result.ErrorText;
}

// The video path fails after 20 pictures (engine_test::FailingVideoVidrel): the run ends with its message,
// the reader and the other stages stop, and no thread stays behind.
// The run ends as failed with the message, and no thread stays behind once the component is gone.
template <class Vidrel>
void ExpectFailureLeavingNoThread(const std::filesystem::path& input, const std::string& options,
                                  const std::string& message) {
  const int threads = LiveThreads();
  {
    Vidrel vidrel;
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    const engine_test::ConversionResult result =
        engine_test::RunConversion(vidrel, input, TestFolder() / "failed.avi", "", options);
    EXPECT_TRUE(result.Terminated);
    EXPECT_FALSE(result.Finished);
    EXPECT_TRUE(result.ExceptionRaised);
    EXPECT_EQ(result.ErrorText, message);
  }
  EXPECT_TRUE(engine_test::WaitServing([&] { return LiveThreads() <= threads; }, std::chrono::seconds(5)))
      << LiveThreads() << " threads, " << threads << " before";
}

std::string Scheduled(const std::string& options, bool pipelined) {
  return options + (pipelined ? "" : "\npipeline=0");
}

TEST_P(PipelineControl, AnErrorOfTheVideoPathEndsTheRunWithItsMessage) {
  ExpectFailureLeavingNoThread<engine_test::FailingVideoVidrel>(
      TenSeconds(), Scheduled("vcodec=mpeg4\nacodec=mp2", GetParam()), "Video encoding failed");
}

// Motion JPEG in AVI whose pictures from 40 % on are zeros for five chunks: the decoder finds no picture in
// them, an error that "xerror" makes end the run.
std::filesystem::path BrokenPictures() {
  const std::filesystem::path whole = media_test::Fixture(
      "pipeline_mjpeg.avi",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=4 -f lavfi -i sine=duration=4 -c:v mjpeg -q:v 5 "
      "-c:a pcm_s16le");
  std::string bytes(std::filesystem::file_size(whole), '\0');
  std::ifstream(whole, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::size_t at = bytes.find("00dc", bytes.size() * 2 / 5);
  for (int chunk = 0; chunk < 5 && at != std::string::npos && at + 8 <= bytes.size(); ++chunk) {
    std::uint32_t size = 0;
    for (int index = 3; index >= 0; --index)
      size = (size << 8) | static_cast<unsigned char>(bytes[at + 4 + static_cast<std::size_t>(index)]);
    const std::size_t end = std::min(bytes.size(), at + 8 + size);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
              bytes.begin() + static_cast<std::ptrdiff_t>(end), '\0');
    at = bytes.find("00dc", end);
  }
  return media_test::WrittenFixture("pipeline_mjpeg_broken.avi", bytes);
}

TEST_P(PipelineControl, ADecodingErrorEndsTheRunWithItsMessage) {
  ExpectFailureLeavingNoThread<engine::TVidrel>(BrokenPictures(),
                                                Scheduled("vcodec=mpeg4\nacodec=mp2\nxerror=1", GetParam()),
                                                "Error while decoding stream #0.0 (Video)");
}

INSTANTIATE_TEST_SUITE_P(Schedules, PipelineControl, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& schedule) {
                           return std::string(schedule.param ? "Pipelined" : "OneThread");
                         });

}  // namespace
