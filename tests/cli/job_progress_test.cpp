#include "cli/job_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using namespace std::chrono_literals;

engine::TProgressInfo Info(std::int64_t current_us, std::int64_t total_us, int frame = 10) {
  engine::TProgressInfo info;
  info.CurrentDuration = current_us;
  info.TotalDuration = total_us;
  info.FrameNumber = frame;
  info.FPS = 50;
  info.CurrentSize = 1'250'000;
  return info;
}

TEST(JobProgress, PercentAndTimeLeftFollowTheShareDone) {
  EXPECT_EQ(cli::PercentDone(Info(1'500'000, 3'000'000)), 50);
  EXPECT_EQ(cli::PercentDone(Info(4'000'000, 3'000'000)), 100);  // past a total taken from the container
  EXPECT_EQ(cli::PercentDone(Info(-5, 3'000'000)), 0);
  EXPECT_EQ(cli::PercentDone(Info(1'000'000, 0)), -1);  // unknown total
  EXPECT_EQ(cli::TimeLeft(10s, 25), std::chrono::seconds(30));
  EXPECT_EQ(cli::TimeLeft(10s, 100), std::chrono::seconds(0));
  EXPECT_FALSE(cli::TimeLeft(10s, 0).has_value());
  EXPECT_FALSE(cli::TimeLeft(10s, -1).has_value());
}

TEST(JobProgress, TextShowsPercentRateSizeAndTimeLeft) {
  EXPECT_EQ(cli::JobProgressText(Info(1'500'000, 3'000'000), 75s, false),
            " 50%  fps=50  size=1.2 MB  left 00:01:15");
  EXPECT_EQ(cli::JobProgressText(Info(3'000'000, 3'000'000, -1), std::nullopt, true),
            "[========================] 100%  size=1.2 MB");
  // Without a known total the time reached stands in for the percent.
  EXPECT_EQ(cli::JobProgressText(Info(1'500'000, -1), std::nullopt, false).rfind("00:00:01.500", 0), 0U);
}

TEST(JobProgress, PlainLinesAtMostOncePerIntervalButAlwaysTheLast) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = ::open_memstream(&text, &size);
  ASSERT_NE(stream, nullptr);
  cli::JobProgress progress(stream, false, 500ms);
  const auto start = cli::JobProgress::Clock::now();
  progress.Start(1, 2, "a.avi", "/out/a.mp4", start);
  progress.Report(Info(100'000, 3'000'000), start);
  progress.Report(Info(200'000, 3'000'000), start + 100ms);  // too soon
  engine::TProgressInfo last = Info(3'000'000, 3'000'000);
  last.FileIndex = -1;
  progress.Report(last, start + 200ms);
  progress.Finish();
  std::fclose(stream);
  const std::string printed(text, size);
  std::free(text);
  EXPECT_EQ(printed,
            "[1/2] a.avi -> /out/a.mp4\n"
            "[1/2]   3%  fps=50  size=1.2 MB\n"
            "[1/2] 100%  fps=50  size=1.2 MB\n");
}

}  // namespace
