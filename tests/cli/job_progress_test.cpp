#include "cli/job_progress.h"
#include "cli/progress_board.h"

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
  cli::ProgressBoard board(stream, false);
  cli::JobProgress progress(board, 0, false, 500ms);
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

// What a stream received, read back once it is closed.
class MemoryStream {
 public:
  MemoryStream() : stream_(::open_memstream(&text_, &size_)) {}
  ~MemoryStream() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(text_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  std::FILE* Stream() const { return stream_; }
  std::string Text() {
    std::fflush(stream_);
    return std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

TEST(ProgressBoard, ATerminalRedrawsTheRowsInPlaceBelowTheLinesForGood) {
  MemoryStream memory;
  ASSERT_NE(memory.Stream(), nullptr);
  cli::ProgressBoard board(memory.Stream(), true);
  board.Print("[1/3] a.avi -> a.mp4");
  board.Show(0, "[1/3]  10%");
  board.Print("[2/3] b.avi -> b.mp4");
  board.Show(1, "[2/3]   5%");
  board.Show(0, "[1/3]  20%");
  board.Close(0);  // the first job ended: its last report stays, the second row moves up
  board.Print("\nwarning: damaged");
  const std::string up1 = "\r\x1b[1A", up2 = "\r\x1b[2A", erase = "\x1b[K", clear_below = "\x1b[J";
  EXPECT_EQ(memory.Text(),
            "[1/3] a.avi -> a.mp4" + erase + "\n" + clear_below +                                //
                "[1/3]  10%" + erase + "\n" + clear_below +                                      //
                up1 + "[2/3] b.avi -> b.mp4" + erase + "\n" + "[1/3]  10%" + erase + "\n" +      //
                clear_below +                                                                    //
                up1 + "[1/3]  10%" + erase + "\n" + "[2/3]   5%" + erase + "\n" + clear_below +  //
                up2 + "[1/3]  20%" + erase + "\n" + "[2/3]   5%" + erase + "\n" + clear_below +  //
                up2 + "[1/3]  20%" + erase + "\n" + "[2/3]   5%" + erase + "\n" + clear_below +  //
                up1 + erase + "\nwarning: damaged" + erase + "\n" + "[2/3]   5%" + erase + "\n" +
                clear_below);
}

TEST(ProgressBoard, ElsewhereEveryLineAndReportStandsAlone) {
  MemoryStream memory;
  ASSERT_NE(memory.Stream(), nullptr);
  cli::ProgressBoard board(memory.Stream(), false);
  board.Print("[1/2] a.avi -> a.mp4");
  board.Show(0, "[1/2]  10%");
  board.Print("[2/2] b.avi -> b.mp4");
  board.Show(1, "[2/2]   5%");
  board.Close(0);
  board.Show(1, "[2/2] 100%");
  board.Close(1);
  EXPECT_EQ(memory.Text(),
            "[1/2] a.avi -> a.mp4\n[1/2]  10%\n[2/2] b.avi -> b.mp4\n[2/2]   5%\n[2/2] 100%\n");
}

}  // namespace
