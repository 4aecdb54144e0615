// The probe on damaged media: every damaged copy of every container, files with awkward names or no content,
// and files changed while they are read either open (with every read-out answering) or fail with a reason
// that names the file; never a crash or a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "probe/av_probe.h"
#include "runtime/library_loader.h"
#include "support/damaged_media.h"
#include "support/test_files.h"
#include "support/watchdog.h"

namespace {

using damaged_media::DamagedFile;
using probe::TAVProbe;

constexpr std::chrono::seconds kLimit{30};

class DamagedMediaProbe : public testing::TestWithParam<damaged_media::Source> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
  }

  // Opens the file; when it opens, every read-out of the container and its streams answers.
  void ExpectOpensOrFailsWithItsReason(const DamagedFile& file) {
    SCOPED_TRACE(file.Label);
    watchdog_.Arm("probing " + file.Label, kLimit);
    TAVProbe probe;
    if (probe.Open(file.Path.string())) {
      probe::TFileStreamInfo info;
      EXPECT_TRUE(probe.GetFileStreamInfo(info));
      ASSERT_GE(probe.StreamCount(), 0);
      for (int index = 0; index < probe.StreamCount(); ++index) {
        probe::TStreamSummary summary;
        EXPECT_TRUE(probe.GetStreamSummary(index, summary)) << index;
        EXPECT_FALSE(summary.Kind.empty()) << index;
      }
      if (probe.VideoStreamCount() > 0) {
        probe::TVideoStreamInfo video;
        EXPECT_TRUE(probe.GetVideoStreamInfo(-1, video));
      }
    } else {
      const std::string& reason = probe.LastError();
      EXPECT_EQ(reason.rfind(file.Path.string() + ": ", 0), 0U) << reason;
      EXPECT_GT(reason.size(), file.Path.string().size() + 2) << reason;
    }
    probe.Close();
    EXPECT_EQ(probe.FormatContext(), nullptr);
    watchdog_.Disarm();
  }

  test_watchdog::Watchdog watchdog_;
};

TEST_P(DamagedMediaProbe, EveryDamagedCopyOpensOrFailsWithItsReason) {
  const auto files = damaged_media::DamagedCopies(GetParam(), test_files::TestFolder());
  ASSERT_FALSE(files.empty()) << "the clean file could not be made";
  for (const DamagedFile& file : files)
    ExpectOpensOrFailsWithItsReason(file);
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedMediaProbe, testing::ValuesIn(damaged_media::Sources()),
                         [](const auto& case_info) { return std::string(case_info.param.Extension); });

using DamagedMediaProbeFiles = DamagedMediaProbe;

TEST_F(DamagedMediaProbeFiles, AwkwardFilesOpenOrFailWithTheirReason) {
  const std::filesystem::path folder = test_files::TestFolder();
  const auto files = damaged_media::AwkwardFiles(folder);
  for (const DamagedFile& file : files)
    ExpectOpensOrFailsWithItsReason(file);
  // The clean ones under odd names open as well as under plain ones.
  for (const DamagedFile& file : {files[2], files[3]}) {
    TAVProbe probe;
    EXPECT_TRUE(probe.Open(file.Path.string())) << file.Label << ": " << probe.LastError();
  }
}

// Another thread changes copies of a file while the probe opens them, over and over.
TEST_F(DamagedMediaProbeFiles, FilesChangedWhileTheyAreReadOpenOrFail) {
  const std::filesystem::path folder = test_files::TestFolder();
  const std::filesystem::path clean = damaged_media::LongerFile();
  ASSERT_FALSE(clean.empty());
  for (const damaged_media::ChangeCase& change : damaged_media::Changes()) {
    for (int round = 0; round < 8; ++round) {
      const std::filesystem::path copy =
          damaged_media::OwnCopy(clean, folder / ("changed_" + std::to_string(round) + ".avi"));
      std::atomic<bool> opening{false};
      std::thread changer([&] {
        while (!opening)
          std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        damaged_media::ApplyChange(copy, change.What);
      });
      opening = true;
      ExpectOpensOrFailsWithItsReason({std::string(change.Name) + " round " + std::to_string(round), copy});
      changer.join();
    }
  }
}

}  // namespace
