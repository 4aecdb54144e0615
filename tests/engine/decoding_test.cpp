// Decoding inside a run: every frame of every decoded stream reaches the output paths, the last ones too,
// with the stream clock following the frames.
#include <gtest/gtest.h>

#include <sstream>

#include "conversion_runner.h"
#include "engine_test_support.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::TestFolder;

struct Seen {
  int VideoFrames = 0;
  std::int64_t AudioSamples = 0;
  std::int64_t LastVideoPts = -1;
  bool VideoClockIncreasing = true;
};

class CountingTask : public engine::TFFmpeg {
 public:
  explicit CountingTask(Seen& seen) : seen_(seen) {}

 protected:
  // The clock the output path keeps in step with comes with each frame (the output paths may run on threads
  // of their own, away from the reader's stream clock).
  // Counted, then encoded and written as usual: a run whose output got nothing would fail.
  void VideoOutput(engine::TOutputStreamState& ost, engine::TInputStreamState& ist, AVFrame* frame) override {
    ++seen_.VideoFrames;
    if (ost.SyncPts <= seen_.LastVideoPts) seen_.VideoClockIncreasing = false;
    seen_.LastVideoPts = ost.SyncPts;
    engine::TFFmpeg::VideoOutput(ost, ist, frame);
  }
  void AudioOutput(engine::TOutputStreamState& ost, engine::TInputStreamState& ist, AVFrame* frame) override {
    seen_.AudioSamples += frame->nb_samples;
    engine::TFFmpeg::AudioOutput(ost, ist, frame);
  }

 private:
  Seen& seen_;
};

class CountingVidrel : public engine::TVidrel {
 public:
  explicit CountingVidrel(Seen& seen) : seen_(seen) {}

 protected:
  std::unique_ptr<engine::TFFmpeg> CreateTask() override { return std::make_unique<CountingTask>(seen_); }

 private:
  Seen& seen_;
};

std::int64_t ProbeSum(const std::filesystem::path& path, const std::string& arguments) {
  const auto listed = media_test::RunCommand("ffprobe -v error " + arguments + " -of csv=p=0 " +
                                             media_test::Quoted(path) + " 2>/dev/null");
  std::istringstream lines(listed.Output);
  std::int64_t sum = 0;
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) sum += std::stoll(line);
  }
  return sum;
}

TEST(Decoding, EveryFrameReachesTheOutputPathsIncludingTheDelayedOnes) {
  // B-frames make the decoder hold pictures back until it is drained at the end.
  const std::filesystem::path input = media_test::H264AacMp4();
  Seen seen;
  engine_test::ConversionResult result;
  {
    CountingVidrel vidrel(seen);
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    result =
        engine_test::RunConversion(vidrel, input, TestFolder() / "out.mkv", "", "vcodec=mpeg4\nacodec=mp2");
  }
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_EQ(seen.VideoFrames,
            ProbeSum(input, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames"));
  EXPECT_EQ(seen.AudioSamples, ProbeSum(input, "-select_streams a:0 -show_entries frame=nb_samples"));
  EXPECT_TRUE(seen.VideoClockIncreasing);
  EXPECT_NEAR(static_cast<double>(seen.LastVideoPts), 2960000.0, 1000.0);
}

}  // namespace
