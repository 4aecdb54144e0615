#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "runtime/library_loader.h"

namespace {

using std::chrono::milliseconds;

class ProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
};

engine::TProgressInfo Info(std::int64_t current, std::int64_t total, int frame = 10, int fps = 25,
                           std::int64_t size = 2048, int file_index = 0) {
  engine::TProgressInfo info;
  info.FileIndex = file_index;
  info.FrameNumber = frame;
  info.FPS = fps;
  info.CurrentSize = size;
  info.CurrentDuration = current;
  info.TotalDuration = total;
  return info;
}

TEST_F(ProgressLineTest, LineShowsTimeAgainstTotalPercentFramesAndSize) {
  struct Case {
    engine::TProgressInfo info;
    const char* expected;
  };
  const Case cases[] = {
      {Info(1480000, 3000000, 37, 25, 126000),
       "00:00:01.480 / 00:00:03.000 49%  frame=37 fps=25  size=123 kB"},
      // Unknown total: no percent.
      {Info(1000000, -1), "00:00:01.000 / N/A  frame=10 fps=25  size=2 kB"},
      {Info(1000000, 0), "00:00:01.000 / 00:00:00.000  frame=10 fps=25  size=2 kB"},
      // The last packets may end past the container's duration.
      {Info(3040000, 3000000), "00:00:03.040 / 00:00:03.000 100%  frame=10 fps=25  size=2 kB"},
      {Info(0, 3000000), "00:00:00.000 / 00:00:03.000 0%  frame=10 fps=25  size=2 kB"},
      // No video in the output.
      {Info(2000000, 4000000, -1, -1, 0), "00:00:02.000 / 00:00:04.000 50%  size=0 kB"},
      // More than the 32 bits of an int can count.
      {Info(3600000000LL * 30, 3600000000LL * 40, 2700000, 250, 5LL << 40),
       "30:00:00.000 / 40:00:00.000 75%  frame=2700000 fps=250  size=5368709120 kB"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cli::ProgressLineText(c.info), c.expected);
}

// What the printer wrote into a memory stream.
class CapturedStream {
 public:
  CapturedStream() : stream_(open_memstream(&buffer_, &size_)) {}
  ~CapturedStream() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(buffer_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  std::FILE* Stream() const { return stream_; }
  std::string Text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

TEST_F(ProgressLineTest, PrinterKeepsToTheIntervalButAlwaysShowsTheFinalReport) {
  CapturedStream captured;
  ASSERT_NE(captured.Stream(), nullptr);
  cli::ProgressPrinter printer(captured.Stream(), false, milliseconds(500));
  const auto start = cli::ProgressPrinter::Clock::now();
  printer.Report(Info(1000000, 3000000), start);
  printer.Report(Info(1100000, 3000000), start + milliseconds(100));  // too soon
  printer.Report(Info(1500000, 3000000), start + milliseconds(500));
  printer.Report(Info(3000000, 3000000, 75, 25, 4096, -1), start + milliseconds(600));
  printer.Finish();
  EXPECT_EQ(captured.Text(),
            "00:00:01.000 / 00:00:03.000 33%  frame=10 fps=25  size=2 kB\n"
            "00:00:01.500 / 00:00:03.000 50%  frame=10 fps=25  size=2 kB\n"
            "00:00:03.000 / 00:00:03.000 100%  frame=75 fps=25  size=4 kB\n");
}

TEST_F(ProgressLineTest, OnATerminalEachLineOverwritesTheOneBefore) {
  CapturedStream captured;
  ASSERT_NE(captured.Stream(), nullptr);
  cli::ProgressPrinter printer(captured.Stream(), true, milliseconds(500));
  printer.Finish();  // no line shown yet: nothing to end
  const auto start = cli::ProgressPrinter::Clock::now();
  printer.Report(Info(1000000, 3000000, 10, 25, 2048000), start);
  printer.Report(Info(2000000, 3000000, 50, 25, 2048), start + milliseconds(500));
  printer.Finish();
  printer.Finish();  // a second end adds nothing
  EXPECT_EQ(captured.Text(),
            "\r00:00:01.000 / 00:00:03.000 33%  frame=10 fps=25  size=2000 kB"
            "\r00:00:02.000 / 00:00:03.000 66%  frame=50 fps=25  size=2 kB   \n");
}

}  // namespace
