// The player on damaged media: every damaged copy of every container, awkward files and files changed while
// they play either fail Open with a reason naming the file or play to their end; Stop always returns and
// leaves nothing open.
#include <gtest/gtest.h>

#include "player/player_harness.h"
#include "support/damaged_media.h"
#include "support/test_files.h"
#include "support/watchdog.h"

namespace player_test {
namespace {

using damaged_media::DamagedFile;

constexpr std::chrono::seconds kLimit{30};
constexpr int kPlayTimeoutMs = 15000;  // a 1 s file, however damaged, plays to its end well within this

class DamagedMediaPlayer : public PlayerHarness {
 protected:
  // Opens the file and plays it to its end, or sees it fail; then stops the player. `changed` runs once
  // the file has played a little.
  void ExpectPlaysToTheEndOrFails(const DamagedFile& file, const std::function<void()>& change = nullptr) {
    SCOPED_TRACE(file.Label);
    {
      std::lock_guard lock(mutex_);
      states_.clear();
    }
    watchdog_.Arm("playing " + file.Label, kLimit);
    if (player_.Open(file.Path.string(), host_, false)) {
      if (change) {
        Serve(300);
        change();
      }
      EXPECT_TRUE(ServeUntil([&] { return HasState(player::psEnd) || !player_.IsOpen(); }, kPlayTimeoutMs))
          << "neither played to its end nor stopped";
    } else {
      const std::string& reason = player_.LastErrorText();
      EXPECT_EQ(reason.rfind(file.Path.string() + ": ", 0), 0U) << reason;
      EXPECT_FALSE(player_.IsOpen());
    }
    watchdog_.Arm("stopping " + file.Label, kLimit);
    player_.Stop(true);
    EXPECT_FALSE(player_.IsOpen());
    watchdog_.Disarm();
  }

  test_watchdog::Watchdog watchdog_;
};

class DamagedMediaPlayerCopies : public DamagedMediaPlayer,
                                 public testing::WithParamInterface<damaged_media::Source> {};

TEST_P(DamagedMediaPlayerCopies, EveryDamagedCopyPlaysToItsEndOrFails) {
  const auto files = damaged_media::DamagedCopies(GetParam(), test_files::TestFolder());
  ASSERT_FALSE(files.empty()) << "the clean file could not be made";
  const int threads = LiveThreads();
  for (const DamagedFile& file : files)
    ExpectPlaysToTheEndOrFails(file);
  // SDL's audio may start with the first.
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads + 2)) << LiveThreads() << " threads, " << threads << " before";
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedMediaPlayerCopies, testing::ValuesIn(damaged_media::Sources()),
                         [](const auto& case_info) { return std::string(case_info.param.Extension); });

TEST_F(DamagedMediaPlayer, AwkwardFilesPlayToTheirEndOrFail) {
  for (const DamagedFile& file : damaged_media::AwkwardFiles(test_files::TestFolder()))
    ExpectPlaysToTheEndOrFails(file);
}

TEST_F(DamagedMediaPlayer, FilesChangedWhileTheyPlayPlayToTheirEndOrFail) {
  const std::filesystem::path folder = test_files::TestFolder();
  const std::filesystem::path clean = damaged_media::CleanFile(*damaged_media::FindSource("avi"));
  ASSERT_FALSE(clean.empty());
  for (const damaged_media::ChangeCase& change : damaged_media::Changes()) {
    const std::filesystem::path copy = damaged_media::OwnCopy(clean, folder / "changed.avi");
    ExpectPlaysToTheEndOrFails({change.Name, copy}, [&] { damaged_media::ApplyChange(copy, change.What); });
  }
}

}  // namespace
}  // namespace player_test
